# The local HTTP/FTP test servers for a test run. Sourced by bash, not run.
#   start_test_servers STATE_DIR   starts them (they end with this shell at the latest) and
#                                  exports VOREL_TEST_HTTP, VOREL_TEST_FTP, VOREL_TEST_REFUSED
#                                  (127.0.0.1:port) and VOREL_TEST_DOCROOT (the served folder)
#   stop_test_servers              stops them; nothing happens when they are not running

_vorel_test_server_script="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/vorel_test_server.py"
_vorel_test_server_pid=

start_test_servers() {
  local state=$1 line http ftp refused pid
  stop_test_servers
  mkdir -p "$state" && state=$(cd "$state" && pwd) || {
    echo "start_test_servers: cannot use $1" >&2
    return 1
  }
  # Files left by an earlier run would show up in this run's listings and counts.
  rm -rf "$state/docroot"
  mkdir -p "$state/docroot" || return 1

  # Debian's python3 is the one with pyftpdlib; a pyenv python3 earlier in PATH lacks it.
  line=$(/usr/bin/python3 "$_vorel_test_server_script" --docroot "$state/docroot" --log "$state/server.log" \
    --parent-pid $$ </dev/null) || { echo "start_test_servers: the server did not start" >&2; return 1; }
  IFS=' =' read -r _ http _ ftp _ refused _ pid <<<"$line"
  _vorel_test_server_pid=$pid
  export VOREL_TEST_HTTP="127.0.0.1:$http"
  export VOREL_TEST_FTP="127.0.0.1:$ftp"
  export VOREL_TEST_REFUSED="127.0.0.1:$refused"
  export VOREL_TEST_DOCROOT="$state/docroot"
}

stop_test_servers() {
  local pid=${_vorel_test_server_pid:-} tries
  [ -n "$pid" ] || return 0
  _vorel_test_server_pid=
  kill "$pid" 2>/dev/null || true
  # Not a child of this shell, so no `wait`: until it is gone, or a zombie nobody has reaped yet.
  for ((tries = 0; tries < 50; tries++)); do
    [ -r "/proc/$pid/stat" ] && ! grep -q ') [ZX] ' "/proc/$pid/stat" 2>/dev/null || return 0
    sleep 0.1
  done
  return 0
}
