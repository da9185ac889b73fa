#!/bin/bash
# An nginx for the feed tests and the demo, everything in one folder, listening on 127.0.0.1 only.
#
#   nginx.sh start DIR PORT   in the background; returns once the port takes connections
#   nginx.sh run DIR PORT     the same in the foreground (exec): the test fixture runs it as its
#                             child, so the server dies with the test process
#   nginx.sh stop DIR
#
# Files are served from DIR/www (world-readable: as root the workers run as nobody). Locations:
#   /PATH            the file with Content-Length (a matching If-None-Match gives 304, a missing
#                    file 404)
#   /chunked/PATH    the same bytes chunked, no Content-Length (a body filter that never matches
#                    drops the length)
#   /close/PATH      the same bytes with neither Content-Length nor chunking: ends at the close
#   /status/304 /status/404 /status/500, /redirect (301 to /redirected)
#   /drop            the connection is closed without an answer
#   /slow-body/PATH  the file trickled at 100 bytes a second
# With libnginx-mod-http-echo also:
#   /slow-headers?s=N  nothing for N s (default 5), then 200 "slept N"
#   /stall?s=N         "first part" at once, silence for N s, then "second part" (chunked)
#   /drop-body         "first part" chunked, then the connection drops (the upstream /stall is
#                      given up after 300 ms)
#   /echo-body         the request body back (POST)
#   /echo-request      "METHOD URI|Cache-Control|Pragma|User-Agent" of the request
set -u
cmd=${1:?usage: nginx.sh start|run DIR PORT | stop DIR}
dir=${2:?DIR missing}
echo_module=/usr/lib/nginx/modules/ngx_http_echo_module.so

case "$cmd" in
start|run)
  port=${3:?PORT missing}
  mkdir -p "$dir/www" "$dir/tmp"
  chmod 755 "$dir" "$dir/www"
  user_line=; [ "$(id -u)" = 0 ] && user_line="user nobody nogroup;"
  load_line=; echo_locations=
  if [ -r "$echo_module" ]; then
    load_line="load_module $echo_module;"
    echo_locations=$(cat <<LOC
        location = /slow-headers {
            default_type text/plain;
            set \$s \$arg_s; if (\$s = '') { set \$s 5; }
            echo_sleep \$s;
            echo "slept \$s";
        }
        location = /stall {
            default_type text/plain;
            set \$s \$arg_s; if (\$s = '') { set \$s 5; }
            echo "first part";
            echo_flush;
            echo_sleep \$s;
            echo "second part";
        }
        location = /drop-body {
            proxy_pass http://127.0.0.1:$port/stall?s=5;
            proxy_buffering off;
            proxy_read_timeout 300ms;
        }
        location = /echo-body {
            default_type text/plain;
            echo_read_request_body;
            echo_request_body;
        }
        location = /echo-request {
            default_type text/plain;
            echo "\$request_method \$request_uri|\$http_cache_control|\$http_pragma|\$http_user_agent";
        }
LOC
)
  fi
  cat > "$dir/nginx.conf" <<CONF
$load_line
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log warn;
$user_line
events { worker_connections 256; }
http {
    types { text/plain txt; application/rss+xml rss; application/xml xml; image/jpeg jpg;
            image/gif gif; image/png png; }
    default_type application/octet-stream;
    access_log $dir/access.log;
    client_body_temp_path $dir/tmp/body;
    proxy_temp_path $dir/tmp/proxy;
    fastcgi_temp_path $dir/tmp/fastcgi;
    uwsgi_temp_path $dir/tmp/uwsgi;
    scgi_temp_path $dir/tmp/scgi;
    sendfile on;
    keepalive_timeout 30s;
    gzip off;
    server {
        listen 127.0.0.1:$port;
        server_name localhost;
        root $dir/www;
        location / { }
        location /chunked/ {
            alias $dir/www/;
            sub_filter_types *;
            sub_filter 'NEVER-MATCHES-7f3a9c' '';
            sub_filter_last_modified on;
        }
        location /close/ {
            alias $dir/www/;
            sub_filter_types *;
            sub_filter 'NEVER-MATCHES-7f3a9c' '';
            chunked_transfer_encoding off;
        }
        location = /status/304 { return 304; }
        location = /status/404 { return 404; }
        location = /status/500 { return 500; }
        location = /redirect { return 301 /redirected; }
        location = /drop { return 444; }
        location /slow-body/ {
            alias $dir/www/;
            limit_rate_after 0;
            limit_rate 100;
        }
$echo_locations
    }
}
CONF
  rm -f "$dir/nginx.pid"
  [ "$cmd" = run ] && exec /usr/sbin/nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log" -g 'daemon off;'
  /usr/sbin/nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log" || exit 1
  for _ in $(seq 200); do
    [ -s "$dir/nginx.pid" ] && (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && exit 0
    sleep 0.05
  done
  echo "nginx did not come up on $port" >&2
  tail -20 "$dir/error.log" >&2
  "$0" stop "$dir"
  exit 1
  ;;
stop)
  [ -s "$dir/nginx.pid" ] || exit 0
  pid=$(cat "$dir/nginx.pid")
  # SIGTERM is the fast stop: requests in flight (a slow response) are cut, not waited for.
  kill -TERM "$pid" 2>/dev/null
  for _ in $(seq 100); do
    s=$(ps -o stat= -p "$pid" 2>/dev/null)
    [ -z "$s" ] || [ "${s#Z}" != "$s" ] && break
    sleep 0.05
  done
  kill -KILL -- "-$pid" 2>/dev/null
  rm -f "$dir/nginx.pid"
  exit 0
  ;;
*)
  echo "usage: nginx.sh start|run DIR PORT | stop DIR" >&2
  exit 2
  ;;
esac
