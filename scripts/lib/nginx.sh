# Starts a private nginx on a free loopback port, never the system service.
# Sourced by scripts/demo and scripts/bench.
#
#   nginx_start WORK ROOT [DIRECTIVES]   configuration and logs under WORK/nginx,
#                                        ROOT served at /, DIRECTIVES added to
#                                        the server block; sets nginx_pid and
#                                        nginx_port, or fails with the error log
#   nginx_stop                           stops it (safe to call twice)

nginx_pid=
nginx_port=

nginx_port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

nginx_start() {
  local work=$1 root=$2 directives=${3:-} bin user_line= attempt
  bin=$(command -v nginx || echo /usr/sbin/nginx)
  [ -x "$bin" ] || { echo "nginx is not installed; run: sudo scripts/setup" >&2; return 1; }
  mkdir -p "$work/nginx/tmp"
  [ "$(id -u)" = 0 ] && user_line="user nobody nogroup;" # workers run as nobody when started as root
  for attempt in 1 2 3 4 5 6 7 8 9 10; do
    nginx_port=$((20000 + RANDOM % 40000))
    nginx_port_free "$nginx_port" || continue
    cat > "$work/nginx/nginx.conf" <<CONF
$user_line
daemon off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $work/nginx/tmp/body;
  proxy_temp_path $work/nginx/tmp/proxy;
  fastcgi_temp_path $work/nginx/tmp/fastcgi;
  uwsgi_temp_path $work/nginx/tmp/uwsgi;
  scgi_temp_path $work/nginx/tmp/scgi;
  server {
    listen 127.0.0.1:$nginx_port;
    root $root;
    $directives
  }
}
CONF
    "$bin" -p "$work/nginx/" -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log" &
    nginx_pid=$!
    for _ in $(seq 50); do
      nginx_port_free "$nginx_port" || break
      kill -0 "$nginx_pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$nginx_pid" 2>/dev/null && ! nginx_port_free "$nginx_port"; then return 0; fi
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=
  done
  echo "nginx did not start:" >&2
  cat "$work/nginx/error.log" >&2
  return 1
}

nginx_stop() {
  if [ -n "$nginx_pid" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=
  fi
}
