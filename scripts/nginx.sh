# A private nginx serving one folder on 127.0.0.1 (sourced, not run). Used by the demo and the
# install benchmark; the state folder holds its configuration, pid and log.
start_nginx() {  # state-folder, served-folder, port [, rate per connection, e.g. 2m]
  local state=$1 served=$2 port=$3 rate=${4:-0}
  mkdir -p "$state/tmp"
  cat >"$state/nginx.conf" <<CONF
user root;
worker_processes 1;
pid $state/nginx.pid;
error_log $state/error.log;
events { worker_connections 64; }
http {
  access_log off;
  default_type application/octet-stream;
  sendfile on;
  client_body_temp_path $state/tmp;
  server {
    listen 127.0.0.1:$port;
    root $served;
    limit_rate $rate;
  }
}
CONF
  nginx -p "$state" -c "$state/nginx.conf"
}

stop_nginx() {  # state-folder
  [ -f "$1/nginx.pid" ] && kill "$(cat "$1/nginx.pid")" 2>/dev/null || true
}
