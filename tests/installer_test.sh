#!/usr/bin/env bash
# VORELSetup.exe under Wine: a silent install into a fresh folder, the installed launcher (the
# shortcut's target) updating the game from the test server and starting it, an upgrade install
# that keeps the game and the player's settings, and a silent uninstall that leaves nothing of
# ours and keeps a file the player put there. Each step is checked by listing the folder and the
# registry. Last, a player's install without /S: its pages are driven by keys and saved as
# pictures in WINDOWS-BUILD-DIR/setup-pages, to be looked at. Needs the test servers and an X
# display (scripts/test.sh provides both).
#   tests/installer_test.sh WINDOWS-BUILD-DIR STUB-GAME-EXE
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(realpath "$1") stub=$(realpath "$2")
. "$here/../scripts/env.sh"
# No menu entries or desktop files on the host for the shortcuts made here.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
export LANG=$VOREL_WINE_LANG LC_ALL=$VOREL_WINE_LANG
: "${VOREL_TEST_HTTP:?the test servers are not running: run through scripts/test.sh}"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\VORELLauncher'
product='Lạc Phong Ký MAX'
user_dir="$WINEPREFIX/drive_c/users/$(whoami)"
menu_link="$user_dir/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/$product.lnk"
desktop_link="$user_dir/Desktop/$product.lnk"
work=$(mktemp -d /tmp/vorel-setup.XXXXXX)
served="$VOREL_TEST_DOCROOT/setup-$(basename "$work")"
inst="$work/TròChơiViệt"  # (no blank: wine would quote the /D= argument, which NSIS takes unquoted)
winpath() { printf 'Z:%s' "${1//\//\\}"; }
cleanup() {  # a failed run must not leave the shared prefix holding our entry or shortcuts, nor a held key
  xdotool keyup Return >/dev/null 2>&1
  wine reg delete "$key" /f >/dev/null 2>&1
  rm -f "$menu_link" "$desktop_link"
  rm -rf "$work" "$served"
}
trap cleanup EXIT
. "$here/shell_checks.sh"
listing() { (cd "$inst" && find . -mindepth 1 -maxdepth 1 | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' '); }
# The uninstaller runs from a copy of itself and returns at once: its work is awaited.
uninstalled() { [ "$(listing)" = "notes.txt " ] && ! wine reg query "$key" >/dev/null 2>&1; }

# A release on the test server, and its setup.
mkdir -p "$work/game/data" "$work/launcher"
cp "$stub" "$work/game/vorel.exe"
head -c 300000 /dev/urandom >"$work/game/data/a.pak"
cp "$build/app/VORELLauncher.exe" "$work/launcher/"
wine "$build/tools/vorel-publish.exe" --game "$(winpath "$work/game")" --launcher "$(winpath "$work/launcher")" \
  --out "$(winpath "$work/server")" --game-version 1.0.3 --launcher-version 4.1.2037 \
  --mirror "http://$VOREL_TEST_HTTP/$(basename "$served")/" >/dev/null || { echo "FAILED: publishing"; exit 1; }
cp -r "$work/server" "$served"
bash "$here/../scripts/make_setup.sh" --build "$build" --release "$work/server" --out "$work/VORELSetup.exe" >/dev/null ||
  { echo "FAILED: building the setup"; exit 1; }

# The setup's own manifest: the player's rights, Windows 7 to 11, the current common controls,
# DPI-aware.
setup_manifest() {
  python3 - "$work/VORELSetup.exe" <<'PY'
import re, sys
found = re.search(rb"<assembly .*?</assembly>", open(sys.argv[1], "rb").read(), re.S)
text = found.group(0).decode() if found else ""
wanted = ['level="asInvoker"', 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"',
          "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"]
wanted.append(">true</dpiAware>")
sys.exit(0 if all(w in text for w in wanted) else 1)
PY
}
check "the setup's manifest asks for no elevation and names Windows 7 to 11" setup_manifest
# Signed as a studio signs it (a throw-away certificate); the signed setup is the one installed.
mkdir "$work/signed"
check "the setup signs and verifies, and a changed byte does not" env SIGNED_OUT="$work/signed" \
  bash "$here/code_signing.sh" "$work/VORELSetup.exe"
[ -f "$work/signed/VORELSetup.exe" ] && cp "$work/signed/VORELSetup.exe" "$work/VORELSetup.exe"

# A silent install into a fresh folder (named in Vietnamese, as a player's may be).
check "the silent install succeeds" wine "$work/VORELSetup.exe" /S "/D=$(winpath "$inst")"
check "the install holds the launcher, its configuration and the uninstaller" \
  test "$(listing)" = "Config Dumper64.dll VORELLauncher.exe uninstall.exe "
check "the configuration is the release's" cmp "$inst/Config/launcherconfig.txt" "$work/server/production/vorel_pql_win/Launcher/launcherconfig.txt"
check "Apps & Features lists it with its version" bash -c "wine reg query '$key' /v DisplayVersion | grep -q 4.1.2037"
check "Apps & Features has its publisher and size" bash -c "wine reg query '$key' | grep -q Publisher && wine reg query '$key' | grep -q EstimatedSize"
check "the Start-menu shortcut names the launcher" grep -aq "V.O.R.E.L.L.a.u.n.c.h.e.r...e.x.e\|VORELLauncher.exe" "$menu_link"

# The installed launcher updates the game and starts it.
(cd "$inst" && timeout 120 wine VORELLauncher.exe) >/dev/null 2>&1
check "the launcher updated the game" test -f "$inst/Game/vorel_win/data/a.pak"
check "the launcher started the game" wait_until test -s "$inst/Game/vorel_win/launched.txt"  # it may write after the launcher ends
check "the launcher ended" bash -c "grep -q 'Launcher terminate' '$inst'/Log/*.txt"

# An upgrade install keeps the game, the settings and the logs.
printf 'exitMode=2\n' >"$inst/Config/config.ini"
check "the upgrade install succeeds" wine "$work/VORELSetup.exe" /S "/D=$(winpath "$inst")"
check "the upgrade keeps the game" cmp "$inst/Game/vorel_win/data/a.pak" "$work/game/data/a.pak"
check "the upgrade keeps the settings" grep -q exitMode=2 "$inst/Config/config.ini"
check "the upgrade keeps the logs" test -d "$inst/Log"

# A silent uninstall removes all of ours and keeps the player's own file.
echo "my notes" >"$inst/notes.txt"
check "the silent uninstall starts" wine "$inst/uninstall.exe" /S
check "only the player's file stays, and the registry entry is gone" wait_until uninstalled
check "the shortcuts are gone" bash -c "[ ! -e '$menu_link' ] && [ ! -e '$desktop_link' ]"

# A player's install: the folder is typed on the first page, the game is not started from the
# last one, and the uninstaller's pages and its word about the kept file are saved as well.
pages="$build/setup-pages"
rm -rf "$pages" && mkdir -p "$pages"
setup_title='Cài đặt Lạc Phong Ký MAX' remove_title='Gỡ bỏ Lạc Phong Ký MAX'
inst="$work/by-hand"
# NSIS writes its Vietnamese with combining accents: titles are compared in composed form.
title_of() { xdotool getwindowname "$1" | python3 -c 'import sys, unicodedata; print(unicodedata.normalize("NFC", sys.stdin.read()).strip())'; }
windows_named() { for w in $(xdotool search --onlyvisible --name "MAX" 2>/dev/null); do [ "$(title_of "$w")" = "$1" ] && echo "$w"; done; }
# Waits (150 polls of 0.2 s, or the number given) for a window of that title other than the one
# given, and prints its id.
new_window() {  # title, [other window], [polls]
  for _ in $(seq "${3:-150}"); do windows_named "$1" | grep -vx "${2:-none}" | head -n 1 | grep . && return 0; sleep 0.2; done
  return 1
}
# Presses Return in the window. When the press ends the window, xdotool's release can fail to
# arrive, and the X server then keeps repeating a held Return into whichever dialog comes next: it
# is released once more in any case.
press_return() { xdotool key --window "$1" Return; xdotool keyup Return; }
# Saves the window once its page has changed from the previous picture and has settled (two
# pictures alike, half a second apart).
page() {  # window id, picture name
  local before=$pages/.last.xwd now=$pages/.now.xwd settled=$pages/.settled.xwd
  for _ in $(seq 150); do
    xwd -silent -id "$1" >"$now" 2>/dev/null || return 1  # the window is gone
    cmp -s "$now" "$before" || break
    sleep 0.2
  done
  for _ in $(seq 20); do
    sleep 0.5
    xwd -silent -id "$1" >"$settled" 2>/dev/null && cmp -s "$settled" "$now" && break
    cp "$settled" "$now" 2>/dev/null
  done
  cp "$now" "$before" && /usr/bin/convert "xwd:$before" "png:$pages/$2.png"
}
# Presses Return until the window shows something else or is gone: a key that arrives while a
# page is still being built can be lost.
advance() {  # window id
  local before=$pages/.before.xwd now=$pages/.now.xwd
  xwd -silent -id "$1" >"$before" 2>/dev/null || return 0
  for _ in 1 2 3; do
    press_return "$1"
    for _ in $(seq 25); do
      sleep 0.2
      xwd -silent -id "$1" >"$now" 2>/dev/null || return 0
      cmp -s "$now" "$before" || return 0
    done
  done
  return 1
}
wine "$work/VORELSetup.exe" >/dev/null 2>&1 &
setup_pid=$!
if window=$(new_window "$setup_title"); then
  page "$window" 1-folder
  xdotool type --window "$window" "$(winpath "$inst")" && advance "$window"
  page "$window" 2-components && advance "$window"
  page "$window" 3-finish
  xdotool mousemove --window "$window" 222 175 click 1  # "Run ..." off
  page "$window" 3-finish-without-run && advance "$window"
fi
check "the setup's pages are titled in Vietnamese and end" bash -c "[ -n '$window' ] && timeout 30 tail --pid=$setup_pid -f /dev/null"
check "the player's install holds the launcher" test -f "$inst/VORELLauncher.exe"
check "the game was not started from the last page" fails test -e "$inst/Game"
echo "my notes" >"$inst/notes.txt"
wine "$inst/uninstall.exe" >/dev/null 2>&1
if window=$(new_window "$remove_title"); then
  page "$window" 4-uninstall
  # The uninstaller's word about the kept file is the sign that the key was taken.
  for _ in 1 2 3; do
    press_return "$window"
    box=$(new_window "$remove_title" "$window" 50)
    [ -n "$box" ] && break
  done
  [ -n "$box" ] && page "$box" 5-files-kept && advance "$box"
fi
check "the uninstaller says it kept the player's file" test -n "${box:-}"
check "the player's uninstall keeps only the player's file" wait_until uninstalled
rm -f "$pages"/.*.xwd
checks_summary
