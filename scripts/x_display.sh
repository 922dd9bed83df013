# An X display for the launcher's window (sourced, not run). use_x_display keeps the user's
# display when one answers, otherwise starts a private Xvfb and exports DISPLAY; stop_x_display
# stops the private one. window_shot WINDOW-NAME FILE saves an X screenshot of that window as PNG
# (window_xwd the same as an X window dump, quicker to take).
_vorel_xvfb_pid=

# Wine's windows are left to the window manager on the user's display. A private Xvfb has none:
# there Wine manages them itself, or every hide and destroy waits two seconds for a window
# manager's answer that never comes.
_vorel_wine_managed() {  # Y or N
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d "$1" /f >/dev/null 2>&1 || true
}

use_x_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    echo "using the display $DISPLAY"
    _vorel_wine_managed Y
    return 0
  fi
  local n
  for n in $(seq 90 120); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1600x900x24 -nolisten tcp >/dev/null 2>&1 &
    _vorel_xvfb_pid=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 50); do
      if xdpyinfo >/dev/null 2>&1; then
        echo "using a private Xvfb display $DISPLAY"
        _vorel_wine_managed N
        return 0
      fi
      kill -0 "$_vorel_xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
  done
  echo "use_x_display: no X display could be started" >&2
  return 1
}

stop_x_display() {
  [ -n "$_vorel_xvfb_pid" ] && kill "$_vorel_xvfb_pid" 2>/dev/null
  _vorel_xvfb_pid=
  return 0
}

window_xwd() {  # window name, xwd file
  local id
  id=$(xdotool search --name "^$1\$" 2>/dev/null | head -n 1)
  [ -n "$id" ] || return 1
  xwd -silent -id "$id" >"$2.part" 2>/dev/null && mv "$2.part" "$2"
}

window_shot() {  # window name, png file
  window_xwd "$1" "$2.xwd" && /usr/bin/convert "xwd:$2.xwd" "png:$2" 2>/dev/null
  local status=$?
  rm -f "$2.xwd"
  return $status
}
