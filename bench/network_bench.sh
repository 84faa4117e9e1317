#!/usr/bin/env bash
# Network benchmark: qry against Wget2 (and GNU Wget 1.21 for reference) on a
# generated site over a slow network, made on this machine:
#   (a) http through bench's latency_relay (RTT, default 60 ms), five at a time;
#   (b) https (nginx offers HTTP/2 by ALPN) through the relay, five at a time;
#   (c) as (b) with qry --set MaxDownloads=16 and Wget2 --max-threads=16
#       (skipped when this qry does not know the setting);
#   (d) http in a private network namespace whose loopback is held to RATE
#       (default 8mbit) by tc's tbf, nginx with gzip on (needs root).
#   bench/network_bench.sh [DIRS] [PAGES_PER_DIR] [TEXT_BYTES]
#       (default 6 x 49 pages + indexes = 301 pages of about 11 KB; each page
#       is also linked with a query, so a crawl stores about 600 files)
# Environment: QRY=path of the qry to measure (default this tree's release
# build), RELAY=path of latency_relay, RTT=ms, RATE=tc rate, ROUNDS=n
# (default 3; the tools take turns, medians compared), CASES="a b c d",
# KEEP=1 keeps the work directory.
# nginx keeps its defaults (keep-alive on, HTTP/1.1; HTTP/2 on the https
# server) apart from a session cache for TLS resumption. Its log gives the
# bytes each tool moved ($bytes_sent), the protocol, and the connections
# ($connection, $connection_requests).
set -euo pipefail
cd "$(dirname "$0")/.."
# The peers and the measures (wget, Wget2, HTTrack, nginx with HTTP/2, curl,
# time, bc, iproute2): the "bench" group, not the everyday set-up.
scripts/setup.sh bench
top=$(pwd)
qry=${QRY:-$top/build/release/apps/qry}
relay=${RELAY:-$top/build/release/bench/latency_relay}
[ -x "$qry" ] || { echo "no qry at $qry: build first (cmake --build --preset release) or set QRY=" >&2; exit 1; }
[ -x "$relay" ] || { echo "no latency_relay at $relay: build first (cmake --build --preset release) or set RELAY=" >&2; exit 1; }
qry=$(realpath "$qry") relay=$(realpath "$relay")
for tool in wget wget2 openssl /usr/bin/time nginx bc awk; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/setup.sh bench installs it)" >&2; exit 1; }
done
nginx -V 2>&1 | grep -q -- --with-http_v2_module ||
  { echo "this nginx has no HTTP/2 module (nginx -V); scripts/setup.sh bench installs one that has" >&2; exit 1; }

dirs=${1:-6} pages=${2:-49} text=${3:-10000}
rtt=${RTT:-60} rate=${RATE:-8mbit} rounds=${ROUNDS:-3} cases=${CASES:-a b c d}
work=$(mktemp -d /tmp/ormbrook-net-bench-XXXXXX)
chmod 755 "$work"
ns="" relay_pid="" child=""
cleanup() {
  set +e
  [ -n "$child" ] && { pkill -TERM -P "$child" 2>/dev/null; kill "$child" 2>/dev/null; wait "$child" 2>/dev/null; }
  [ -n "$relay_pid" ] && kill "$relay_pid" 2>/dev/null && wait "$relay_pid" 2>/dev/null
  for pidfile in "$work"/nginx*.pid; do
    [ -f "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null
  done
  [ -n "$ns" ] && { sleep 0.3; ip netns del "$ns" 2>/dev/null; }
  [ -n "${KEEP:-}" ] && echo "work directory kept: $work" || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

bench/make_site.sh "$work/site" "$dirs" "$pages" "$text"
chmod -R a+rX "$work/site"
pages_total=$((dirs * pages + dirs + 1))

# The authority and the server's certificate, as in https_bench.sh.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$work/ca.key" \
  -out "$work/ca.pem" -days 2 -subj "/CN=Ormbrook Bench Authority" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$work/server.key" \
  -out "$work/server.csr" -subj "/CN=127.0.0.1" 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n' > "$work/server.ext"
openssl x509 -req -in "$work/server.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial \
  -out "$work/server.pem" -days 2 -extfile "$work/server.ext" 2>/dev/null

# write_nginx NAME SERVERS... : a configuration whose log is $work/NAME.log.
write_nginx() {
  local name=$1; shift
  local user_line=""; [ "$(id -u)" -eq 0 ] && user_line="user root root;"
  cat > "$work/$name.conf" <<CONF
$user_line
worker_processes 2;
pid $work/$name.pid;
error_log $work/$name.error.log;
events { worker_connections 1024; }
http {
  include /etc/nginx/mime.types;
  log_format net '\$connection \$connection_requests \$status \$bytes_sent \$server_protocol '
                 '"\$http2" \$ssl_session_reused \$gzip_ratio "\$request"';
  access_log $work/$name.log net;
  ssl_session_cache shared:$name:10m;
  $*
}
CONF
  : > "$work/$name.log"
}
wait_port() { # host port [netns]
  for _ in $(seq 50); do
    ${3:+ip netns exec "$3"} bash -c "exec 3<>/dev/tcp/$1/$2" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "nothing listens on $1:$2" >&2; return 1
}

mkdir -p "$work/cfg" "$work/home"
export XDG_CONFIG_HOME="$work/cfg" XDG_DATA_HOME="$work/cfg" HOME="$work/home" SSL_CERT_FILE="$work/ca.pem"
project() { # file origin
  printf 'ProjectDefault\n{\n\tGraphMax=10\n}\nRecord\n{\n\tURL="%s/"\n}\n' "$2" > "$1"
}

# Files stored, bookkeeping left out (qry's work lists, wget2's state files).
stored_files() { find "$1" -type f ! -name '*.uq' ! -name '*.lq' ! -name '*.log' ! -name '.wget*' 2>/dev/null | wc -l; }
median() { printf '%s\n' $1 | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
ratio() { echo "scale=2; ($1) / ($2)" | bc -l; }

# measure CASE TOOL LOG DIR [netns] -- command... : times one crawl and reads
# the server's log of it. Sets <case>_<tool>_* for the summary.
measure() {
  local case=$1 tool=$2 log=$3 dir=$4 netns=$5; shift 6
  : > "$log"
  sync
  local status=0
  # In the background, so that a signal to this script cleans up at once.
  ${netns:+ip netns exec "$netns"} /usr/bin/time -f "%e" -o "$work/time" "$@" >"$work/out.$case.$tool" 2>&1 &
  child=$!
  wait "$child" || status=$?
  child=""
  # nginx logs a request once its response has gone: give the last lines time
  # to land, and the tool's connections time to close through the relay.
  sleep 0.5
  local wall; wall=$(tail -n 1 "$work/time")
  # requests connections max-per-connection bytes protocols compressed 200s
  read -r requests conns maxper bytes protos gzipped ok < <(awk '
    { n++; conn[$1] = 1; if ($2 > maxper) maxper = $2; bytes += $4; proto[$5]++
      if ($8 != "-") gz++; if ($3 == 200) ok++ }
    END { c = 0; for (k in conn) c++; p = ""; for (k in proto) p = p (p == "" ? "" : ",") k ":" proto[k]
          printf "%d %d %d %d %s %d %d\n", n, c, maxper, bytes, (p == "" ? "-" : p), gz, ok }' "$log")
  local stored; stored=$(stored_files "$dir")
  printf "  %-7s wall %6.2f s  requests %4d (200: %4d)  stored %4d  connections %4d (up to %4d requests)  %8d bytes  %s%s%s\n" \
    "$tool" "$wall" "$requests" "$ok" "$stored" "$conns" "$maxper" "$bytes" "$protos" \
    "$([ "$gzipped" -gt 0 ] && echo "  gzipped $gzipped")" "$([ "$status" -ne 0 ] && echo "  (exit $status)")"
  local v="${case}_${tool//-/_}"
  eval "walls_$v+=\" $wall\" requests_$v=$requests stored_$v=$stored conns_$v=$conns maxper_$v=$maxper bytes_$v=$bytes protos_$v=$protos"
}

qry_knows_max_downloads() {
  local said; said=$("$qry" --crawl "$work/none.prj" --set MaxDownloads=16 2>&1 || true)
  [[ $said != *"unknown setting"* ]]
}

# run_case CASE ORIGIN LOG [netns] TOOLS... : ROUNDS rounds of the tools in turn.
run_case() {
  local case=$1 origin=$2 log=$3 netns=$4; shift 4
  local tools=("$@") n=$#
  local tls=()
  [[ $origin == https:* ]] && tls=(--ca-certificate="$work/ca.pem" --no-hsts)
  project "$work/$case.prj" "$origin"
  for round in $(seq "$rounds"); do
    echo " round $round:"
    for i in $(seq 0 $((n - 1))); do
      local tool=${tools[$(((i + round - 1) % n))]} dir="$work/$case.$round.${tools[$(((i + round - 1) % n))]}"
      mkdir -p "$dir"
      case $tool in
        qry) measure "$case" qry "$log" "$dir" "$netns" -- \
               "$qry" --crawl "$work/$case.prj" --set "MirrorDir=$dir/" ;;
        qry16) measure "$case" qry16 "$log" "$dir" "$netns" -- \
               "$qry" --crawl "$work/$case.prj" --set "MirrorDir=$dir/" --set MaxDownloads=16 ;;
        wget2|wget2-16) measure "$case" "$tool" "$log" "$dir" "$netns" -- \
               wget2 --mirror --convert-links --no-parent --max-threads="$([ "$tool" = wget2 ] && echo 5 || echo 16)" \
               "${tls[@]}" ${tls:+--no-ocsp} -q -P "$dir" "$origin/" ;;
        wget) measure "$case" wget "$log" "$dir" "$netns" -- \
               wget --mirror --convert-links --no-parent "${tls[@]}" -q -P "$dir" "$origin/" ;;
      esac
    done
  done
  for tool in "${tools[@]}"; do
    local v="${case}_${tool//-/_}"
    eval "wall_$v=\$(median \"\$walls_$v\")"
  done
}

echo "Site: $pages_total pages of about $((text / 1000 + 1)) KB (make_site.sh $dirs $pages $text); qry: $qry"
echo "$rounds rounds, the tools taking turns, medians compared. Wget2: --max-threads=5 (16 in case c), HTTP/2 on"
echo "with its default --http2-request-window=30 streams a connection; Wget 1.21 fetches one at a time, keep-alive."
wants() { [[ " $cases " == *" $1 "* ]]; }

if wants a || wants b || wants c; then
  hport=$((20000 + RANDOM % 20000)) sport=$((hport + 1))
  write_nginx nginx "server { listen 127.0.0.1:$hport; root $work/site; }
  server {
    listen 127.0.0.1:$sport ssl http2;
    ssl_certificate $work/server.pem;
    ssl_certificate_key $work/server.key;
    root $work/site;
  }"
  nginx -p "$work/" -c "$work/nginx.conf"
  wait_port 127.0.0.1 "$hport" && wait_port 127.0.0.1 "$sport"
  "$relay" --rtt "$rtt" "0=127.0.0.1:$hport" "0=127.0.0.1:$sport" > "$work/relay.out" 2>&1 &
  relay_pid=$!
  for _ in $(seq 50); do [ "$(grep -c ^listening "$work/relay.out")" -eq 2 ] && break; sleep 0.1; done
  relay_http=$(awk '/^listening/ {split($2, a, ":"); print a[2]; exit}' "$work/relay.out")
  relay_https=$(awk '/^listening/ {n++; if (n == 2) {split($2, a, ":"); print a[2]}}' "$work/relay.out")
  [ -n "$relay_http" ] && [ -n "$relay_https" ] || { cat "$work/relay.out" >&2; exit 1; }
  if wants a; then
    echo
    echo "(a) http through the relay, RTT $rtt ms, nginx keep-alive on:"
    run_case a "http://127.0.0.1:$relay_http" "$work/nginx.log" "" qry wget2 wget
  fi
  if wants b; then
    echo
    echo "(b) https through the relay, RTT $rtt ms, nginx offers h2 and http/1.1 by ALPN:"
    run_case b "https://127.0.0.1:$relay_https" "$work/nginx.log" "" qry wget2 wget
  fi
  if wants c; then
    echo
    if qry_knows_max_downloads; then
      echo "(c) https through the relay, RTT $rtt ms, 16 at a time:"
      run_case c "https://127.0.0.1:$relay_https" "$work/nginx.log" "" qry16 wget2-16
    else
      echo "(c) https, 16 at a time: this qry does not know MaxDownloads; qry skipped, Wget2 at 16 for reference:"
      run_case c "https://127.0.0.1:$relay_https" "$work/nginx.log" "" wget2-16
    fi
  fi
  kill "$relay_pid" 2>/dev/null; wait "$relay_pid" 2>/dev/null || true; relay_pid=""
  kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
fi

if wants d; then
  echo
  if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null || ! command -v tc >/dev/null; then
    echo "(d) skipped: the bandwidth case needs root and iproute2 (ip netns, tc)"
  elif ! ip netns add "ormbrook-bench-$$" 2>"$work/netns.err"; then
    echo "(d) skipped: ip netns add failed: $(cat "$work/netns.err")"
  else
    ns="ormbrook-bench-$$"
    # A link's packets, not loopback's 64 KB ones (tbf's bucket must hold the
    # largest packet whole), and a queue long enough that TCP, which sees no
    # delay of its own here, does not lose packets filling it.
    ip netns exec "$ns" ip link set lo mtu 1500 up
    ip netns exec "$ns" tc qdisc add dev lo root tbf rate "$rate" burst 16kb latency 500ms
    write_nginx nginxns "gzip on;
  server { listen 127.0.0.1:8080; root $work/site; }"
    ip netns exec "$ns" nginx -p "$work/" -c "$work/nginxns.conf"
    wait_port 127.0.0.1 8080 "$ns"
    echo "(d) http in a network namespace, loopback held to $rate (tbf), nginx gzip on:"
    run_case d "http://127.0.0.1:8080" "$work/nginxns.log" "$ns" qry wget2 wget
    kill "$(cat "$work/nginxns.pid")" 2>/dev/null || true
  fi
fi

# The summary: medians of the wall times; requests, connections and bytes from
# the last round.
echo
echo "Summary (wall: median of $rounds; requests, connections and bytes: last round)"
printf '| case | tool | wall s | requests | stored | connections | req/conn max | protocol | MB moved | round trips a request (at N in flight) |\n'
printf '|---|---|---:|---:|---:|---:|---:|---|---:|---:|\n'
row() { # case tool in-flight label
  local v="${1}_${2//-/_}"
  eval "local wall=\${wall_$v:-} requests=\${requests_$v:-0} stored=\${stored_$v:-0} conns=\${conns_$v:-0} maxper=\${maxper_$v:-0} bytes=\${bytes_$v:-0} protos=\${protos_$v:-}"
  [ -n "$wall" ] || return 0
  local rts="-"
  # Round trips a request at that many in flight (relay cases only).
  [ "$1" != d ] && [ "$requests" -gt 0 ] && rts=$(echo "scale=2; $wall * 1000 * $3 / ($requests * $rtt)" | bc -l)
  [ "$rts" != - ] && rts=$(printf '%.2f (%d)' "$rts" "$3")
  printf '| %s | %s | %.2f | %d | %d | %d | %d | %s | %.2f | %s |\n' "$4" "$2" "$wall" "$requests" "$stored" "$conns" "$maxper" \
    "$protos" "$(echo "scale=3; $bytes / 1000000" | bc -l)" "$rts"
}
row a qry 5 "http ${rtt} ms"; row a wget2 5 "http ${rtt} ms"; row a wget 1 "http ${rtt} ms"
row b qry 5 "https ${rtt} ms"; row b wget2 5 "https ${rtt} ms"; row b wget 1 "https ${rtt} ms"
row c qry16 16 "https ${rtt} ms, 16"; row c wget2-16 16 "https ${rtt} ms, 16"
row d qry 5 "$rate gzip"; row d wget2 5 "$rate gzip"; row d wget 1 "$rate gzip"

echo
echo "Ratios (goals in brackets):"
have() { eval "[ -n \"\${wall_$1:-}\" ]"; }
if have a_qry && have a_wget2; then
  echo "  (a) http ${rtt} ms, five: qry/Wget2 = $(ratio "$wall_a_qry" "$wall_a_wget2") (<= 1.0);" \
       "per request: $(ratio "$wall_a_qry * $requests_a_wget2" "$wall_a_wget2 * $requests_a_qry")"
fi
if have b_qry; then
  limit=$(echo "scale=3; $requests_b_qry / 5 * $rtt / 1000" | bc -l)
  echo "  (b) https ${rtt} ms, five: qry against five in flight ($requests_b_qry requests / 5 x $rtt ms = ${limit} s)" \
       "= $(ratio "$wall_b_qry" "$limit") (<= 1.1); qry/Wget2 = $(ratio "$wall_b_qry" "$wall_b_wget2")"
fi
if have c_qry16; then
  echo "  (c) https ${rtt} ms, 16: qry/Wget2 = $(ratio "$wall_c_qry16" "$wall_c_wget2_16") (<= 1.0)"
elif wants c; then
  echo "  (c) https ${rtt} ms, 16: not measured (this qry has no MaxDownloads)"
fi
if have d_qry && have d_wget2; then
  echo "  (d) $rate, gzip: qry/Wget2 = $(ratio "$wall_d_qry" "$wall_d_wget2") (<= 1.0);" \
       "bytes qry/Wget2 = $(ratio "$bytes_d_qry" "$bytes_d_wget2")"
fi
# Like with like: the same pages stored by each side. (Not the same requests:
# Wget2 also asks for "p1.html>elsewhere</a>" where an unquoted href ends at
# the tag's end, about one bogus request a page.)
for c in a b c d; do
  counts=""
  for t in qry qry16 wget2 wget2_16 wget; do
    eval "s=\${stored_${c}_$t:-}"
    [ -n "$s" ] && counts+=" $t:$s"
  done
  [ -n "$counts" ] && [ "$(printf '%s\n' $counts | cut -d: -f2 | sort -u | wc -l)" -gt 1 ] &&
    echo "  note: ($c) the tools stored different numbers of files:$counts"
done
true
