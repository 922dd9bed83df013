#!/usr/bin/env bash
# Signs Windows programs (and the setup) with a studio's Authenticode certificate, in place.
#   scripts/sign.sh --pfx CERT.pfx --password-file FILE [--timestamp URL] [--name TEXT] FILE...
# CERT.pfx holds the code-signing certificate, its chain and the private key; FILE holds the
# PFX's password on its first line (never on the command line, where other users of the machine
# could read it). With --timestamp an RFC 3161 time-stamp server countersigns each signature, so
# that it stays valid after the certificate expires. A file is replaced only once its signed copy
# is complete: a failure leaves that file as it was, stops, and exits non-zero.
set -euo pipefail

pfx= password= timestamp= name="Lac Phong Ky MAX"
files=()
while [ $# -gt 0 ]; do
  case $1 in
    --pfx) pfx=${2:?}; shift 2 ;;
    --password-file) password=${2:?}; shift 2 ;;
    --timestamp) timestamp=${2:?}; shift 2 ;;
    --name) name=${2:?}; shift 2 ;;
    -h | --help) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "sign.sh: unknown argument $1" >&2; exit 2 ;;
    *) files+=("$1"); shift ;;
  esac
done
if [ -z "$pfx" ] || [ -z "$password" ] || [ ${#files[@]} -eq 0 ]; then
  echo "usage: scripts/sign.sh --pfx CERT.pfx --password-file FILE [--timestamp URL] [--name TEXT] FILE..." >&2
  exit 2
fi
for f in "$pfx" "$password" "${files[@]}"; do
  [ -f "$f" ] || { echo "sign.sh: no such file: $f" >&2; exit 2; }
done
command -v osslsigncode >/dev/null || { echo "sign.sh: osslsigncode is missing (apt-get install osslsigncode)" >&2; exit 2; }

for f in "${files[@]}"; do
  signed="$f.signing"
  rm -f "$signed"
  if ! osslsigncode sign -pkcs12 "$pfx" -readpass "$password" -h sha256 -n "$name" \
      ${timestamp:+-ts "$timestamp"} -in "$f" -out "$signed" >/dev/null; then
    rm -f "$signed"
    echo "sign.sh: signing $f failed" >&2
    exit 1
  fi
  mv -f "$signed" "$f"
  echo "signed $f"
done
