# An X display for the launcher's window, and the Wine server that serves it (sourced, not run).
# use_x_display keeps the user's display when one answers, otherwise starts a private Xvfb and
# exports DISPLAY; then it starts the Wine server of the run and tells Wine how to manage its
# windows on that display. stop_x_display stops the private display. window_shot WINDOW-NAME FILE
# saves an X screenshot of that window as PNG (window_xwd the same as an X window dump, quicker to
# take).
_vorel_xvfb_pid=

# One Wine server for the whole run, kept alive until `wineserver -k`: each Windows program then
# starts in about 50 ms, and none can meet a server that is just ending (a server started by a
# plain wine command ends a few seconds after its last program, and a program that connects in
# that moment fails with "recvmsg: Connection reset by peer"). A server of this prefix that still
# runs holds the prefix and would keep the persistent one from starting: it is ended first.
# Wine's desktop process takes the display of the server's first program, so the display comes
# before it.
_vorel_start_wine_server() {
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  if ! wineserver -p; then
    echo "use_x_display: the Wine server did not start" >&2
    return 1
  fi
}

# Wine's windows are left to the window manager on the user's display. A private Xvfb has none:
# there Wine manages them itself, or every hide and destroy waits two seconds for a window
# manager's answer that never comes.
_vorel_wine_managed() {  # Y or N
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d "$1" /f >/dev/null 2>&1 || true
}

_vorel_start_xvfb() {
  local n i
  for n in $(seq 90 120); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 2720x1440x24 -nolisten tcp >/dev/null 2>&1 &
    _vorel_xvfb_pid=$!
    export DISPLAY=":$n"
    for i in $(seq 50); do
      if xdpyinfo >/dev/null 2>&1; then
        echo "using a private Xvfb display $DISPLAY"
        return 0
      fi
      kill -0 "$_vorel_xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
  done
  echo "use_x_display: no X display could be started" >&2
  return 1
}

use_x_display() {
  local managed=N
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    echo "using the display $DISPLAY"
    managed=Y
  else
    _vorel_start_xvfb || return 1
  fi
  _vorel_start_wine_server || return 1
  _vorel_wine_managed "$managed"
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
