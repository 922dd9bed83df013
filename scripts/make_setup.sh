#!/usr/bin/env bash
# Builds VORELSetup.exe (NSIS) from the Windows build and a release that vorel-publish wrote:
#   scripts/make_setup.sh --build BUILD-DIR --release OUT-DIR --out VORELSetup.exe [--version V]
# BUILD-DIR is the Windows build (VORELLauncher.exe, Dumper64.dll, the icon); OUT-DIR is
# vorel-publish's --out folder, whose launcherconfig.txt (and, for a signed release,
# acceptedrelease.txt) the setup installs in Config. The version is the release's launcher version
# (read from launcherconfig.txt; --version when the configuration is scrambled).
# Sign the programs (scripts/sign.sh) before publishing and building the setup, and the setup after.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build= release= out= version=
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=${2:?}; shift 2 ;;
    --release) release=${2:?}; shift 2 ;;
    --out) out=${2:?}; shift 2 ;;
    --version) version=${2:?}; shift 2 ;;
    -h | --help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "make_setup.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
if [ -z "$build" ] || [ -z "$release" ] || [ -z "$out" ]; then
  echo "usage: scripts/make_setup.sh --build BUILD-DIR --release OUT-DIR --out VORELSetup.exe [--version V]" >&2
  exit 2
fi
launcher_dir="$release/production/vorel_pql_win/Launcher"
config="$launcher_dir/launcherconfig.txt"
for f in "$build/app/VORELLauncher.exe" "$build/app/Dumper64.dll" "$build/artwork/icon196.ico" "$build/artwork/setup164.bmp" "$config"; do
  [ -f "$f" ] || { echo "make_setup.sh: missing $f" >&2; exit 2; }
done
if [ -z "$version" ]; then
  version=$(tr -d '\r' <"$config" | sed -n 's/^launcherVersion=\([0-9]*\.[0-9]*\.[0-9]*\)$/\1/p' | head -n 1)
  [ -n "$version" ] || { echo "make_setup.sh: no launcherVersion in $config: give --version" >&2; exit 2; }
fi
command -v makensis >/dev/null || { echo "make_setup.sh: makensis is missing (apt-get install nsis)" >&2; exit 2; }
abs() { realpath "$1"; }
defines=(-DOUT="$(realpath -m "$out")" -DVERSION="$version" -DLAUNCHER="$(abs "$build/app/VORELLauncher.exe")"
         -DDUMPER="$(abs "$build/app/Dumper64.dll")" -DCONFIG="$(abs "$config")" -DICON="$(abs "$build/artwork/icon196.ico")"
         -DSIDE="$(abs "$build/artwork/setup164.bmp")")
[ -f "$launcher_dir/acceptedrelease.txt" ] && defines+=(-DRECORD="$(abs "$launcher_dir/acceptedrelease.txt")")
makensis -V2 -INPUTCHARSET UTF8 "${defines[@]}" "$here/../tools/installer/setup.nsi"
echo "setup $out: launcher $version$([ -f "$launcher_dir/acceptedrelease.txt" ] && echo ", with the release's first record")"
