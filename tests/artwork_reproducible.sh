#!/usr/bin/env bash
# The artwork script draws the same bytes again: draws into a fresh folder and compares every
# file with the build's artwork.
set -euo pipefail
script=$1 built=$2 again=$3
rm -rf "$again"
/usr/bin/python3 "$script" "$again" >/dev/null
count=0
for file in "$built"/*; do
  cmp "$file" "$again/$(basename "$file")"
  count=$((count + 1))
done
[ "$count" -eq 14 ] || { echo "expected 14 files in $built, found $count"; exit 1; }
echo "14 files drawn again, byte for byte the same"
