# The local HTTP/FTP test servers for a test run. Sourced by bash, not run.
#   start_test_servers STATE_DIR   starts them (they end with this shell at the latest) and
#                                  exports VOREL_TEST_HTTP, VOREL_TEST_FTP, VOREL_TEST_REFUSED
#                                  (127.0.0.1:port) and VOREL_TEST_DOCROOT (the served folder)
#   stop_test_servers              stops them; nothing happens when they are not running

_vorel_test_server_script="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/vorel_test_server.py"
_vorel_test_server_pid=

start_test_servers() {
  local state=$1
  stop_test_servers
  mkdir -p "$state" && state=$(cd "$state" && pwd) || {
    echo "start_test_servers: cannot use $1" >&2
    return 1
  }
  # Files left by an earlier run would show up in this run's listings and counts.
  rm -rf "$state/docroot" "$state/ports.json"
  mkdir -p "$state/docroot" || return 1

  # Debian's python3 is the one with pyftpdlib; a pyenv python3 earlier in PATH lacks it.
  /usr/bin/python3 "$_vorel_test_server_script" --docroot "$state/docroot" \
    --port-file "$state/ports.json" --parent-pid $$ </dev/null >"$state/server.log" 2>&1 &
  _vorel_test_server_pid=$!

  local tries
  for ((tries = 0; tries < 150; tries++)); do
    [ -s "$state/ports.json" ] && break
    if ! kill -0 "$_vorel_test_server_pid" 2>/dev/null; then
      echo "start_test_servers: the server ended at start-up:" >&2
      cat "$state/server.log" >&2
      _vorel_test_server_pid=
      return 1
    fi
    sleep 0.1
  done
  if [ ! -s "$state/ports.json" ]; then
    echo "start_test_servers: no port file after 15 s (log: $state/server.log)" >&2
    stop_test_servers
    return 1
  fi

  local ports http ftp refused
  ports=$(cat "$state/ports.json")
  http=$(sed -nE 's/.*"http": *([0-9]+).*/\1/p' <<<"$ports")
  ftp=$(sed -nE 's/.*"ftp": *([0-9]+).*/\1/p' <<<"$ports")
  refused=$(sed -nE 's/.*"refused": *([0-9]+).*/\1/p' <<<"$ports")
  if [ -z "$http" ] || [ -z "$ftp" ] || [ -z "$refused" ]; then
    echo "start_test_servers: unreadable port file: $ports" >&2
    stop_test_servers
    return 1
  fi
  export VOREL_TEST_HTTP="127.0.0.1:$http"
  export VOREL_TEST_FTP="127.0.0.1:$ftp"
  export VOREL_TEST_REFUSED="127.0.0.1:$refused"
  export VOREL_TEST_DOCROOT="$state/docroot"
}

stop_test_servers() {
  if [ -n "${_vorel_test_server_pid:-}" ]; then
    kill "$_vorel_test_server_pid" 2>/dev/null
    wait "$_vorel_test_server_pid" 2>/dev/null
    _vorel_test_server_pid=
  fi
  return 0
}
