#!/usr/bin/env bash
# The browser check of mirrored sites. A generated site whose pages lie in
# docs/ and take their style sheets, script, font and pictures from static/,
# above the start folder, is served by nginx, crawled by qry from
# docs/index.html with the default range, and rendered by headless Chromium:
# once from the server, once from the mirror with the server stopped. At most
# 2% of the pixels may differ.
#
#   scripts/browser-check.sh
#   scripts/browser-check.sh --site DIR PAGE [--qry PROGRAM] [--keep]
#
# The second form does the same for a site of your own: DIR is served from
# the subfolder /site/ and crawled from /site/PAGE (for instance the Rust
# standard library's documentation: DIR "$(rustc --print sysroot)/share/doc/
# rust/html", PAGE std/index.html); it prints the difference and sets no
# limit. --qry crawls with another build of qry; --keep leaves the pictures.
#
# Chromium (Debian's chromium) is installed for this check only, through
# scripts/setup.sh --browser-check. Nothing but 127.0.0.1 is asked for: the
# crawl keeps to the site, and Chromium resolves no other name.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)

site_dir="" page="docs/index.html" qry="" keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --site) site_dir=$(cd "$2" && pwd); page="$3"; shift 3 ;;
    --qry) qry="$2"; shift 2 ;;
    --keep) keep=1; shift ;;
    *) echo "usage: $0 [--site DIR PAGE] [--qry PROGRAM] [--keep]" >&2; exit 2 ;;
  esac
done

# Chromium renders, a test program compares, nginx serves.
scripts/setup.sh test browser
scripts/build.sh release >/dev/null
[ -n "$qry" ] || qry="$source_dir/build/release/apps/qry"
picture_diff="$source_dir/build/release/tests/picture_diff"
chromium=$(command -v chromium || command -v chromium-browser)

work=$(mktemp -d /tmp/ormbrook-browser-check.XXXXXX)
nginx_pid=""
cleanup() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null || true
  if [ "$keep" = 1 ]; then echo "pictures kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

make_site() {
  local www="$1"
  mkdir -p "$www/docs" "$www/static/fonts" "$www/static/img"
  cat > "$www/docs/index.html" <<'HTML'
<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Handbook</title>
<link rel="stylesheet" href="../static/site.css">
<link rel="icon" href="/static/img/icon.png">
<script src="../static/app.js"></script>
</head><body>
<nav class="side"><h2>Handbook</h2><a href="index.html">Start</a><a href="usage.html">Usage</a>
<a href="../other/elsewhere.html">Elsewhere</a></nav>
<main><h1>Getting started</h1>
<p class="lead">The pages of this handbook take their style sheets, their script, their font and
their pictures from a folder beside the pages, as documentation sites do.</p>
<p><img src="../static/img/window.png" width="480" alt="a window"></p>
<div class="note">A note in a box whose background is a picture named by the style sheet.</div>
<p id="from-script">Without its script this line stays plain.</p>
</main></body></html>
HTML
  cat > "$www/docs/usage.html" <<'HTML'
<!DOCTYPE html>
<html><head><link rel="stylesheet" href="../static/site.css"></head><body><main><h1>Usage</h1></main></body></html>
HTML
  cat > "$www/static/site.css" <<'CSS'
@import "theme.css";
@font-face { font-family: "Handbook"; src: url(fonts/face.ttf); }
body { margin: 0; font-family: "Handbook", serif; background: #fbf7ef; color: #222; }
.side { position: fixed; top: 0; bottom: 0; left: 0; width: 220px; padding: 16px;
        background: #23395d url(img/stripe.png); }
.side a { display: block; color: #fff; padding: 6px 0; font-size: 18px; }
.side h2 { color: #ffd479; margin-top: 0; }
main { margin-left: 270px; padding: 24px 40px; max-width: 760px; }
.note { padding: 18px; border: 3px solid #c0392b; background: url(img/paper.png); font-size: 20px; }
CSS
  cat > "$www/static/theme.css" <<'CSS'
h1 { font-size: 44px; color: #8e2c1f; border-bottom: 4px double #8e2c1f; }
.lead { font-size: 22px; line-height: 1.6; }
.scripted { background: #2e7d32; color: #fff; padding: 10px; font-weight: bold; }
CSS
  cat > "$www/static/app.js" <<'JS'
document.addEventListener("DOMContentLoaded", function () {
  var line = document.getElementById("from-script");
  line.className = "scripted";
  line.textContent = "This line was styled by the script.";
});
JS
  local font
  font=$(fc-match -f '%{file}' 'IPAPGothic' 2>/dev/null || true)
  [ -f "$font" ] && cp "$font" "$www/static/fonts/face.ttf"
  cp "$source_dir/docs/main_window.png" "$www/static/img/window.png"
  cp "$source_dir/docs/main_window.png" "$www/static/img/icon.png"
  # The two backgrounds the style sheet names: small patterns, tiled.
  base64 -d > "$www/static/img/stripe.png" <<'PNG'
iVBORw0KGgoAAAANSUhEUgAAABAAAAAQCAIAAACQkWg2AAAAHElEQVR42mNQtoyFIx2vCjjCJc4wqmFUw/DVAAAP/dOB+ZvH0AAAAABJRU5ErkJggg==
PNG
  base64 -d > "$www/static/img/paper.png" <<'PNG'
iVBORw0KGgoAAAANSUhEUgAAABAAAAAQCAIAAACQkWg2AAAAOUlEQVR42mP49vwgHP3+cBWOcIkzkKQayGUgSTVUA/GqQRpIUo2igUjfM5CkGqqBpJBlGI2HQREPAGY0rx9wRcFNAAAAAElFTkSuQmCC
PNG
  mkdir -p "$www/other"
  echo '<html><body>out of range</body></html>' > "$www/other/elsewhere.html"
}

start_nginx() {
  local root="$1" location="$2"
  mkdir -p "$work/nginx"
  for attempt in $(seq 1 20); do
    port=$((20000 + RANDOM % 20000))
    cat > "$work/nginx/nginx.conf" <<CONF
$( [ "$(id -u)" = 0 ] && echo "user root root;" )
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 256; }
http {
  include /etc/nginx/mime.types;
  default_type application/octet-stream;
  access_log $work/nginx/access.log;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$port;
    location $location { alias $root/; }
  }
}
CONF
    nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g "daemon off;" 2>>"$work/nginx/start.log" &
    nginx_pid=$!
    for _ in $(seq 1 50); do
      if curl -s -o /dev/null "http://127.0.0.1:$port/"; then return 0; fi
      kill -0 "$nginx_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=""
  done
  echo "browser-check: nginx did not start" >&2
  cat "$work/nginx/start.log" >&2
  exit 1
}

stop_nginx() {
  kill "$nginx_pid"
  wait "$nginx_pid" 2>/dev/null || true
  nginx_pid=""
}

render() {
  local url="$1" picture="$2" profile
  profile=$(mktemp -d "$work/profile.XXXXXX")
  "$chromium" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$profile" --host-resolver-rules="MAP * ~NOTFOUND, EXCLUDE 127.0.0.1" \
    --hide-scrollbars --window-size=1280,1400 --virtual-time-budget=5000 \
    --screenshot="$picture" "$url" >/dev/null 2>"$work/chromium.log"
  [ -s "$picture" ] || { echo "browser-check: Chromium made no picture of $url" >&2; cat "$work/chromium.log" >&2; exit 1; }
}

# The site, served and crawled.
if [ -z "$site_dir" ]; then
  make_site "$work/www"
  site_dir="$work/www"
  location="/"
  start_path="$page"
else
  location="/site/"
  start_path="site/$page"
fi
start_nginx "$site_dir" "$location"
start_url="http://127.0.0.1:$port/$start_path"

mkdir -p "$work/config" "$work/data" "$work/mirror"
printf 'ProjectDefault\n{\n\tGraphMax=1\n}\nRecord\n{\n\tURL="%s"\n}\n' "$start_url" > "$work/P.prj"
XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
  "$qry" --crawl "$work/P.prj" --set MirrorDir="$work/mirror/" > "$work/crawl.log" 2>&1 \
  || { cat "$work/crawl.log" >&2; exit 1; }
echo "crawl: $(tail -1 "$work/crawl.log")"

render "$start_url" "$work/online.png"
render "$start_url" "$work/online-again.png"
stop_nginx
local_page="$work/mirror/P/127.0.0.1/$start_path"
[ -f "$local_page" ] || { echo "browser-check: $local_page is not in the mirror" >&2; exit 1; }
render "file://$local_page" "$work/offline.png"

noise=$("$picture_diff" "$work/online.png" "$work/online-again.png")
result=$("$picture_diff" "$work/online.png" "$work/offline.png" "$work/difference.png")
echo "online against online: $noise"
echo "offline against online: $result"
percent=${result##*percent=}
if [ "$location" = "/" ] && awk "BEGIN { exit !($percent > 2) }"; then
  echo "browser-check: the mirror renders differently from the site ($percent% of the pixels)" >&2
  exit 1
fi
