#!/usr/bin/env bash
# Crawl benchmark: qry against GNU wget, Wget2 and HTTrack on the same
# generated site served by nginx on loopback, in the same run.
#   bench/crawl_bench.sh [DIRS] [PAGES_PER_DIR]     (default 40 x 50 = 2,000 pages)
# Reports wall time, CPU time and peak memory of each over ROUNDS rounds
# (default 3), and the ratios of the medians, and the requests each made per
# stored file; then a second qry crawl of the unchanged site against wget -N
# updating the mirror of its own first crawl (and, for reference, against
# wget -N on a mirror that already matches the server), once with nginx
# comparing If-Modified-Since exactly (its default) and once answering older
# dates too; then the peak memory of a crawl whose frontier
# holds 100,000 URLs.
set -euo pipefail
cd "$(dirname "$0")/.."
# The peers and the measures (wget, Wget2, HTTrack, nginx with HTTP/2, curl,
# time, bc, iproute2): the "bench" group, not the everyday set-up.
scripts/setup.sh bench
top=$(pwd)
qry="$top/build/release/apps/qry"
[ -x "$qry" ] || { echo "build first: scripts/build.sh release" >&2; exit 1; }
for tool in wget wget2 httrack /usr/bin/time nginx; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/setup.sh bench installs it)" >&2; exit 1; }
done

dirs=${1:-40} pages=${2:-50}
work=$(mktemp -d /tmp/ormbrook-bench-XXXXXX)
chmod 755 "$work"
trap 'kill $(cat "$work/nginx.pid" 2>/dev/null) 2>/dev/null; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
bench/make_site.sh "$work/site" "$dirs" "$pages"
chmod -R a+rX "$work/site"

port=$((20000 + RANDOM % 30000))
start_nginx() { # $1: exact|before
  [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null && sleep 0.5
  user_line=""; [ "$(id -u)" -eq 0 ] && user_line="user root root;"
  cat > "$work/nginx.conf" <<CONF
$user_line
worker_processes 2;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 1024; }
http {
  include /etc/nginx/mime.types;
  access_log $work/access.log;
  keepalive_timeout 0;
  if_modified_since $1;
  server { listen 127.0.0.1:$port; root $work/site; }
}
CONF
  : > "$work/access.log"
  nginx -p "$work/" -c "$work/nginx.conf"
  sleep 0.3
  origin="http://127.0.0.1:$port"
}

measure() { # name, command...  -> "name wall cpu maxrss_kb"
  local name=$1; shift
  /usr/bin/time -f "%e %U %S %M" -o "$work/time.$name" "$@" >"$work/out.$name" 2>&1 || true
  read -r wall user sys rss < <(tail -n 1 "$work/time.$name")
  cpu=$(echo "$user + $sys" | bc -l)
  # nginx logs a request after its response has gone: give the last line time to land.
  sleep 0.2
  requests=$(wc -l < "$work/access.log")
  printf "%-8s wall %7.2f s  cpu %6.2f s  peak %7d kB  requests %6d\n" "$name" "$wall" "$cpu" "$rss" "$requests"
  eval "wall_$name=$wall cpu_$name=$cpu rss_$name=$rss requests_$name=$requests"
  eval "walls_$name+=\" $wall\" cpus_$name+=\" $cpu\" rsss_$name+=\" $rss\""
}
median() { printf '%s\n' $1 | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
# The median of the rounds: file creation on a busy file system varies a lot
# from one run to the next (deleted files nearby make new ones slower), and
# all four tools take turns in every round.
take_medians() {
  for name in "$@"; do
    eval "wall_$name=\$(median \"\$walls_$name\") cpu_$name=\$(median \"\$cpus_$name\") rss_$name=\$(median \"\$rsss_$name\")"
  done
}

pages_total=$((dirs * pages + dirs + 1))
rounds=${ROUNDS:-3}
echo "Site: $pages_total pages, served by nginx on loopback; $rounds rounds, medians compared"
start_nginx exact
mkdir -p "$work/cfg"
printf 'ProjectDefault\n{\n\tGraphMax=10\n}\nRecord\n{\n\tURL="%s/"\n}\n' "$origin" > "$work/Bench.prj"
export XDG_CONFIG_HOME="$work/cfg" XDG_DATA_HOME="$work/cfg"
run_tool() { # name round
  : > "$work/access.log"
  # What the previous tool left to write back is written now, not during
  # this tool's run.
  sync
  case $1 in
    qry) mkdir -p "$work/qry.$2"
      measure qry "$qry" --crawl "$work/Bench.prj" --set "MirrorDir=$work/qry.$2/" ;;
    wget) measure wget wget --mirror --convert-links --no-parent --no-http-keep-alive -q -P "$work/wget.$2" "$origin/" ;;
    wget2) measure wget2 wget2 --mirror --convert-links --no-parent --max-threads=5 --header="Connection: close" \
      -q -P "$work/wget2.$2" "$origin/" ;;
    httrack) measure httrack httrack "$origin/" -O "$work/httrack.$2" -c5 -%! -%c0 -A0 -q -I0 -s0 ;;
  esac
}
tools=(qry wget wget2 httrack)
for round in $(seq "$rounds"); do
  echo "round $round:"
  # Each round starts with another tool, so that none is always first after
  # the site was made.
  for i in 0 1 2 3; do
    run_tool "${tools[$(((i + round - 1) % 4))]}" "$round"
  done
done
take_medians qry wget wget2 httrack
ln -s "qry.$rounds" "$work/qry"

ratio() { echo "scale=2; $1 / $2" | bc -l; }
echo
echo "medians: qry wall $wall_qry s cpu $cpu_qry s; wget $wall_wget s $cpu_wget s; wget2 $wall_wget2 s $cpu_wget2 s; httrack $wall_httrack s $cpu_httrack s"
echo "pages/s: qry $(ratio $pages_total $wall_qry), wget2 $(ratio $pages_total $wall_wget2);" \
     "qry/wget2 = $(ratio $wall_wget2 $wall_qry) (goal >= 2)"
echo "CPU per page: qry/wget = $(ratio $cpu_qry $cpu_wget) (goal <= 0.5)"
echo "peak memory: qry/httrack = $(ratio $rss_qry $rss_httrack) (goal <= 1)"
# Files stored by the last round of each tool (qry's work lists and the
# tools' own bookkeeping files left out): requests beyond them are bogus or
# repeated requests.
stored_files() { find "$1" -type f ! -name '*.uq' ! -name '*.lq' ! -name 'hts-*' ! -name '*.log' \
  ! -path '*/hts-cache/*' | wc -l; }
stored_qry=$(stored_files "$work/qry.$rounds")
stored_wget=$(stored_files "$work/wget.$rounds")
httrack_site="$work/httrack.$rounds/127.0.0.1_$port"
[ -d "$httrack_site" ] || httrack_site="$work/httrack.$rounds"
stored_httrack=$(stored_files "$httrack_site")
echo "requests per stored file (last round): qry $requests_qry / $stored_qry = $(ratio $requests_qry $stored_qry)" \
     "(goal <= 1.2); wget $(ratio $requests_wget $stored_wget); httrack $(ratio $requests_httrack $stored_httrack)"

# Links in the localised mirror: a relative link must name a file that is
# there; an absolute link to the site is needless when its file is there.
broken=0 needless=0
while IFS= read -r -d '' page; do
  dir=$(dirname "$page")
  while IFS= read -r link; do
    case "$link" in
      "$origin"/*)
        path=${link#"$origin"}; path=${path%%#*}
        case "$path" in */) path="${path}index.html";; esac
        [ -f "$work/qry/Bench/127.0.0.1$path" ] && needless=$((needless + 1)) ;;
      \#*|"") ;;
      *)
        # Another site, or a scheme that is no file of this one.
        [[ $link =~ ^[A-Za-z][A-Za-z0-9+.-]*: ]] && continue
        target=${link%%#*}
        [ -e "$dir/$target" ] || broken=$((broken + 1)) ;;
    esac
  done < <(sed -E 's/<!--.*-->//g' "$page" | grep -oE '(href|src|background)="[^"]*"' | sed -E 's/^[a-z]+="(.*)"$/\1/')
done < <(find "$work/qry/Bench" -name '*.html' -print0)
echo "localised mirror: $broken broken relative links, $needless needlessly absolute links"

# Second crawls of the unchanged site, against nginx comparing
# If-Modified-Since exactly (its default) and answering older dates too.
for mode in exact before; do
  echo
  echo "Second crawl of the unchanged site (if_modified_since $mode):"
  start_nginx "$mode"
  : > "$work/access.log"
  sync
  measure "qry2$mode" "$qry" --crawl "$work/Bench.prj" --set "MirrorDir=$work/qry/"
  answered304=$(grep -c '" 304 ' "$work/access.log" || true)
  total=$(wc -l < "$work/access.log")
  [ "$total" -gt 0 ] || total=1
  stored=$(grep -vc '" 404 ' "$work/access.log" || true)
  [ "$stored" -gt 0 ] || stored=1
  : > "$work/access.log"
  sync
  # wget answers a 304 without reading its local copy for links, so it would
  # stop at the start page; with HEAD requests first it walks the whole site.
  # It updates the mirror its first crawl left (as a user's next run would),
  # a fresh copy for each mode: its converted links make every page differ
  # from the server's, so it fetches them again.
  rm -rf "$work/wgetN"
  cp -a "$work/wget.$rounds" "$work/wgetN"
  wget_update=(wget -N --no-if-modified-since -r -l inf --no-parent --no-http-keep-alive -q -P "$work/wgetN" "$origin/")
  measure "wgetN$mode" "${wget_update[@]}"
  eval "qry2=\$wall_qry2$mode wgetN=\$wall_wgetN$mode"
  echo "qry ($mode): $answered304 of $total requests answered 304 ($(ratio $((answered304 * 100)) $total)%;" \
       "$(ratio $((answered304 * 100)) $stored)% of the requests for files that exist)," \
       "time qry/wget -N = $(ratio "$qry2" "$wgetN") (goals: >= 95%, <= 0.5)"
  # Its best case: once more, on the mirror that now matches the server,
  # where it sends HEAD requests only and rewrites nothing.
  : > "$work/access.log"
  sync
  measure "wgetNbest$mode" "${wget_update[@]}"
  eval "wgetNbest=\$wall_wgetNbest$mode"
  echo "  against wget -N on a mirror that already matches the server: time qry/wget -N = $(ratio "$qry2" "$wgetNbest")"
done

echo
echo "A frontier of 100,000 URLs:"
mkdir -p "$work/site/wide"
awk -v out="$work/site/wide/index.html" 'BEGIN { for (i = 0; i < 100000; i++) printf "<a href=\"n%d.html\">%d</a>\n", i, i > out }'
printf 'ProjectDefault\n{\n\tGraphMax=1\n\tDLoadRetry=0\n}\nRecord\n{\n\tURL="%s/wide/"\n}\n' "$origin" > "$work/Wide.prj"
# Stop after the frontier is queued: the peak is reached while it is built.
measure wide timeout -s INT 20 "$qry" --crawl "$work/Wide.prj" --set "MirrorDir=$work/wide/"
echo "peak memory with 100,000 queued URLs: $((rss_wide / 1024)) MB (goal < 50 MB)"
