#!/usr/bin/env bash
# HTTPS crawl benchmark: qry against Wget2 on the generated site of
# crawl_bench.sh, served by nginx with TLS on loopback, both trusting the same
# throw-away authority (made here with the openssl command).
#   bench/https_bench.sh [DIRS] [PAGES_PER_DIR]     (default 40 x 50 = 2,000 pages)
# Reports wall and CPU time of each over ROUNDS rounds (default 3, the tools
# taking turns), the ratio of the medians of pages per second (goal: qry at
# least 1.5 times Wget2's), and the share of handshakes that resumed a
# session, as nginx saw them ($ssl_session_reused).
# Both connect once per request (nginx closes after each reply, as in the
# plain benchmark); Wget2 is given --tls-resume so that both may resume.
set -euo pipefail
cd "$(dirname "$0")/.."
# The peers and the measures (wget, Wget2, HTTrack, nginx with HTTP/2, curl,
# time, bc, iproute2): the "bench" group, not the everyday set-up.
scripts/setup.sh bench
top=$(pwd)
qry="$top/build/release/apps/qry"
[ -x "$qry" ] || { echo "build first: scripts/build.sh release" >&2; exit 1; }
for tool in wget2 openssl /usr/bin/time nginx bc; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/setup.sh bench installs it)" >&2; exit 1; }
done

dirs=${1:-40} pages=${2:-50}
work=$(mktemp -d /tmp/ormbrook-https-bench-XXXXXX)
chmod 755 "$work"
trap 'kill $(cat "$work/nginx.pid" 2>/dev/null) 2>/dev/null; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
bench/make_site.sh "$work/site" "$dirs" "$pages"
chmod -R a+rX "$work/site"

# The authority and the server's certificate (P-256 keys, as a server today
# would have).
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$work/ca.key" \
  -out "$work/ca.pem" -days 2 -subj "/CN=Ormbrook Bench Authority" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$work/server.key" \
  -out "$work/server.csr" -subj "/CN=127.0.0.1" 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n' > "$work/server.ext"
openssl x509 -req -in "$work/server.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial \
  -out "$work/server.pem" -days 2 -extfile "$work/server.ext" 2>/dev/null

port=$((20000 + RANDOM % 30000))
user_line=""; [ "$(id -u)" -eq 0 ] && user_line="user root root;"
cat > "$work/nginx.conf" <<CONF
$user_line
worker_processes 2;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 1024; }
http {
  include /etc/nginx/mime.types;
  log_format tls '\$ssl_session_reused \$status \$request';
  access_log $work/access.log tls;
  keepalive_timeout 0;
  ssl_session_cache shared:bench:10m;
  server {
    listen 127.0.0.1:$port ssl;
    ssl_certificate $work/server.pem;
    ssl_certificate_key $work/server.key;
    ssl_protocols TLSv1.2 TLSv1.3;
    root $work/site;
  }
}
CONF
: > "$work/access.log"
nginx -p "$work/" -c "$work/nginx.conf"
sleep 0.3
origin="https://127.0.0.1:$port"

measure() { # name, command...
  local name=$1; shift
  /usr/bin/time -f "%e %U %S %M" -o "$work/time.$name" "$@" >"$work/out.$name" 2>&1 || true
  read -r wall user sys rss < <(tail -n 1 "$work/time.$name")
  cpu=$(echo "$user + $sys" | bc -l)
  sleep 0.2 # nginx logs a request after its response has gone
  requests=$(wc -l < "$work/access.log")
  resumed=$(grep -c '^r ' "$work/access.log" || true)
  stored=$(grep -c '^[r.] 200 ' "$work/access.log" || true)
  printf "%-6s wall %7.2f s  cpu %6.2f s  peak %7d kB  requests %6d  200s %6d  resumed %6d\n" \
    "$name" "$wall" "$cpu" "$rss" "$requests" "$stored" "$resumed"
  eval "walls_$name+=\" $wall\" cpus_$name+=\" $cpu\" resumed_$name=$resumed requests_$name=$requests"
}
median() { printf '%s\n' $1 | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
ratio() { echo "scale=2; $1 / $2" | bc -l; }

pages_total=$((dirs * pages + dirs + 1))
rounds=${ROUNDS:-3}
echo "Site: $pages_total pages over HTTPS (nginx with TLS on loopback); $rounds rounds, medians compared"
mkdir -p "$work/cfg"
printf 'ProjectDefault\n{\n\tGraphMax=10\n}\nRecord\n{\n\tURL="%s/"\n}\n' "$origin" > "$work/Bench.prj"
export XDG_CONFIG_HOME="$work/cfg" XDG_DATA_HOME="$work/cfg"
run_tool() { # name round
  : > "$work/access.log"
  sync
  case $1 in
    qry) mkdir -p "$work/qry.$2"
      measure qry env SSL_CERT_FILE="$work/ca.pem" "$qry" --crawl "$work/Bench.prj" --set "MirrorDir=$work/qry.$2/" ;;
    wget2) measure wget2 wget2 --mirror --convert-links --no-parent --max-threads=5 --header="Connection: close" \
      --ca-certificate="$work/ca.pem" --tls-resume --tls-session-file="$work/wget2.$2.tls" --no-ocsp --no-hsts \
      -q -P "$work/wget2.$2" "$origin/" ;;
  esac
}
tools=(qry wget2)
for round in $(seq "$rounds"); do
  echo "round $round:"
  for i in 0 1; do
    run_tool "${tools[$(((i + round - 1) % 2))]}" "$round"
  done
done
wall_qry=$(median "$walls_qry") wall_wget2=$(median "$walls_wget2")
cpu_qry=$(median "$cpus_qry") cpu_wget2=$(median "$cpus_wget2")
echo
echo "medians: qry wall $wall_qry s cpu $cpu_qry s; wget2 wall $wall_wget2 s cpu $cpu_wget2 s"
echo "pages/s over HTTPS: qry $(ratio $pages_total $wall_qry), wget2 $(ratio $pages_total $wall_wget2);" \
     "qry/wget2 = $(ratio $wall_wget2 $wall_qry) (goal >= 1.5)"
echo "resumed handshakes (last round): qry $resumed_qry of $requests_qry" \
     "($(ratio $((resumed_qry * 100)) $requests_qry)%), wget2 $resumed_wget2 of $requests_wget2" \
     "($(ratio $((resumed_wget2 * 100)) $requests_wget2)%)"
