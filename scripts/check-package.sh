#!/usr/bin/env bash
# Checks the Debian package on a fresh Debian 12 root: made with mmdebstrap
# (cached in build/check-root.tar between runs), the .deb installed with
# apt, then inside it `qry --help`, `man -w qry` and a headless crawl of the
# demo site served by an nginx started inside the root; the package's file
# list is compared with what `cmake --install` puts in place. Removing the
# package must leave none of its files.
#
# It needs root (chroot) and Debian's mirror; where either is missing it
# says so and skips (exit 0), so that it can run wherever the tests run.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
skip() { echo "check-package: skipped: $*"; exit 0; }

[ "$(id -u)" -eq 0 ] || skip "making a root and chrooting into it needs root"
mirror=$(sed -n 's/^URIs: *//p;s/^deb  *\(http[^ ]*\).*/\1/p' /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null |
         grep -m1 '^http' || true)
[ -n "$mirror" ] || skip "no Debian mirror in the apt sources"
# Only the mirror apt already uses is asked; a machine that can't reach it skips.
timeout 20 apt-get update -qq >/dev/null 2>&1 || skip "Debian's mirror $mirror cannot be reached (apt-get update failed)"
if ! command -v mmdebstrap >/dev/null 2>&1; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends mmdebstrap >/dev/null 2>&1 ||
    skip "mmdebstrap cannot be installed"
fi

scripts/package.sh
deb=$(ls "$top"/build/package/ormbrook_*.deb)
started=$(date +%s)

work=$(mktemp -d /tmp/ormbrook-check-XXXXXX)
root="$work/root"
cleanup() {
  [ -f "$root/tmp/nginx.pid" ] && kill "$(cat "$root/tmp/nginx.pid")" 2>/dev/null
  for m in proc dev/pts dev; do umount "$root/$m" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# The root: Debian 12 with apt, man-db and nginx (the demo site's server);
# the package brings the rest with apt.
cache="$top/build/check-root.tar"
if [ ! -s "$cache" ]; then
  echo "check-package: making a Debian 12 root (kept in $cache)"
  mmdebstrap --quiet --format=tar --variant=apt --include=man-db,nginx-light,ca-certificates bookworm "$cache.part" "$mirror"
  mv "$cache.part" "$cache"
fi
mkdir -p "$root"
tar -C "$root" -xf "$cache"
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
cp /etc/resolv.conf "$root/etc/resolv.conf"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

cp "$deb" "$root/tmp/"
in_root apt-get update -qq
DEBIAN_FRONTEND=noninteractive in_root apt-get install -y -qq "/tmp/$(basename "$deb")" >/dev/null
in_root qry --help | head -1
in_root man -w qry

# The demo site, served inside the root, crawled headless.
cp -r examples/demo-site "$root/tmp/demo-site"
port=$((20000 + RANDOM % 30000))
cat > "$root/tmp/nginx.conf" <<CONF
user root root;
worker_processes 1;
pid /tmp/nginx.pid;
error_log /tmp/nginx-error.log;
events { worker_connections 64; }
http {
  include /etc/nginx/mime.types;
  access_log off;
  server {
    listen 127.0.0.1:$port;
    root /tmp/demo-site;
    location = /old-news.html { return 302 /news.html; }
  }
}
CONF
in_root nginx -c /tmp/nginx.conf
sed "s|@ORIGIN@|http://127.0.0.1:$port|g" examples/Demo.prj > "$root/tmp/Demo.prj"
in_root qry --crawl /tmp/Demo.prj --set MirrorDir=/tmp/mirror/ | tail -1
test -s "$root/tmp/mirror/Demo/Samples/127.0.0.1/index.html"
echo "check-package: from a fresh root to the first crawl: $(( $(date +%s) - started )) s"

# The package holds what `cmake --install` puts in place, no more, no less.
staged="$work/staged"
DESTDIR="$staged" cmake --install build/package >/dev/null
diff <(cd "$staged" && find . ! -type d | sed 's|^\./|/|' | sort) \
     <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./|/|' | sort) ||
  { echo "check-package: the package and cmake --install differ (above)" >&2; exit 1; }

# Removing it leaves none of its files.
files=$(in_root dpkg -L ormbrook | while read -r f; do [ -d "$root$f" ] || echo "$f"; done)
DEBIAN_FRONTEND=noninteractive in_root apt-get purge -y -qq ormbrook >/dev/null
left=$(for f in $files; do [ -e "$root$f" ] && echo "$f"; done || true)
[ -z "$left" ] || { echo "check-package: left behind after removal: $left" >&2; exit 1; }
echo "check-package: passed"
