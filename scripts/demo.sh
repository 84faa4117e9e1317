#!/usr/bin/env bash
# Sets up, builds and runs the main job: serves the demo site with nginx on a
# free loopback port, crawls it with qry and says where the mirror is.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
# nginx serves the demo site.
scripts/setup.sh demo
scripts/build.sh release >/dev/null

work="$top/build/demo"
mkdir -p "$work/logs" "$work/config" "$work/data"
# The demo keeps its settings and mirror in build/demo, away from your own.
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"

conf="$work/nginx.conf"
nginx_pid=""
stop_nginx() { [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null; true; }
trap stop_nginx EXIT

for attempt in 1 2 3 4 5 6 7 8 9 10; do
  port=$((20000 + RANDOM % 30000))
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && continue
  user_line=""
  [ "$(id -u)" -eq 0 ] && user_line="user root root;"
  cat > "$conf" <<CONF
$user_line
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/error.log;
events { worker_connections 64; }
http {
  include /etc/nginx/mime.types;
  access_log $work/logs/access.log;
  client_body_temp_path $work/logs/body;
  proxy_temp_path $work/logs/proxy;
  fastcgi_temp_path $work/logs/fastcgi;
  uwsgi_temp_path $work/logs/uwsgi;
  scgi_temp_path $work/logs/scgi;
  keepalive_timeout 0;
  if_modified_since before;
  server {
    listen 127.0.0.1:$port;
    root $top/examples/demo-site;
    location = /old-news.html { return 302 /news.html; }
  }
}
CONF
  /usr/sbin/nginx -p "$work/" -c "$conf" -g "daemon off;" &
  nginx_pid=$!
  for wait in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    kill -0 "$nginx_pid" 2>/dev/null || break
    sleep 0.1
  done
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  stop_nginx
  nginx_pid=""
done
if [ -z "$nginx_pid" ]; then
  echo "demo: nginx would not start; see $work/logs/error.log" >&2
  exit 1
fi

origin="http://127.0.0.1:$port"
sed "s|@ORIGIN@|$origin|g" examples/Demo.prj > "$work/Demo.prj"
echo "Serving examples/demo-site at $origin; crawling..."
status=0
build/release/apps/qry --crawl "$work/Demo.prj" --set "MirrorDir=$work/mirror/" || status=$?
echo
echo "The mirror is in $work/mirror/Demo/ (start page: $work/mirror/Demo/Samples/127.0.0.1/index.html)."
if [ $status -eq 0 ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  # The desktop program opens the crawled project: its settings (in
  # build/demo/config) point it at the same mirror. The site stays served
  # until the program ends, so "巡回実行" crawls it again.
  conf_file="$work/config/Nordvane/Ormbrook.conf"
  if [ ! -f "$conf_file" ]; then
    mkdir -p "$(dirname "$conf_file")"
    printf '[Application%%20Settings]\nMirrorDir=%s/mirror/\n' "$work" > "$conf_file"
  fi
  echo "Opening the project in the desktop program (quit it with ｱﾌﾟﾘｹｰｼｮﾝの終了 to end the demo)..."
  build/release/apps/qry "$work/Demo.prj" || status=$?
fi
exit $status
