#!/usr/bin/env bash
# Fresh installs over a network with a real round trip, next to the usual download tools fetching
# the same objects from the same nginx in the same run. Trees: 1,000 files of 20 KB, 100 of 1 MB,
# one of 200 MB. Programs: the installer built with pause 0, copy pause 0 and 8 parallel downloads
# (the studio's fast pace), the same built with FELTO_LEAN_TRANSFER=ON, `curl -Z --parallel-max 8`,
# `aria2c -j8 -x3`, `wget -i`, and for the 200 MB file curl's download followed by md5sum.
#
# Everything runs in a private network namespace with loopback only. The round trip comes from
# latency_holder: every packet arriving on loopback is queued to it (iptables NFQUEUE) and held
# for half the round trip; the round trip actually obtained is measured as curl's TCP connect
# time (median of 7) and reported beside the one asked for.
#
# For each run: median wall time of the rounds, the bytes nginx sent ($bytes_sent, manifests and
# heads included) over the tree's bytes, the connections that carried a request (distinct
# $connection) and the peak resident memory (the largest of the rounds).
#
# Usage: bench/run_lean_bench.sh [--quick] [--rounds N] OUT_DIR FAST_BUILD LEAN_BUILD HOLDER
#   FAST_BUILD, LEAN_BUILD: build folders holding FeltoInstaller (felto-publish is FAST_BUILD's).
#   HOLDER: the latency_holder program.
#   --quick: one round (a --rounds after it still counts), and at 100 ms or more neither the
#     installer without the lean option nor wget (a serial client spends one round trip per
#     file: minutes on 1,000 files).
#   FELTO_BENCH_TREES (default "small medium big") and FELTO_BENCH_ROUND_TRIPS (default "0 20 100";
#   the 200 MB file also gets every round trip in FELTO_BENCH_BIG_ROUND_TRIPS, default "200"; set
#   to nothing, none)
#   choose the cases.
# Writes OUT_DIR/lean.txt (one line per run) and OUT_DIR/lean.md (the table, ratios to curl).
set -euo pipefail

if [ -z "${FELTO_BENCH_INSIDE:-}" ]; then
  export FELTO_BENCH_INSIDE=1
  exec unshare -rn -- "$0" "$@"
fi
PATH=$PATH:/usr/sbin:/sbin
ip link set lo up
# A real path's packet size: with loopback's 64 KiB a window is a handful of packets, and clients
# that read in small pieces crawl behind delayed acknowledgements once there is a round trip.
ip link set lo mtu 1500
. "$(dirname "$0")/../scripts/lib/nginx_conf.sh"

rounds=3 quick=""
while [ $# -gt 0 ]; do
  case $1 in
  --quick) quick=1 rounds=1 ;;
  --rounds) rounds=$2 && shift ;;
  *) break ;;
  esac
  shift
done
[ $# -eq 4 ] || {
  echo "usage: $0 [--quick] [--rounds N] OUT_DIR FAST_BUILD LEAN_BUILD HOLDER" >&2
  exit 2
}
out=$(realpath -m "$1") fast_build=$(realpath "$2") lean_build=$(realpath "$3")
holder=$(realpath "$4")
trees=${FELTO_BENCH_TREES:-small medium big}
round_trips=${FELTO_BENCH_ROUND_TRIPS:-0 20 100}
big_round_trips=${FELTO_BENCH_BIG_ROUND_TRIPS-200}
publisher=$fast_build/tools/felto-publish/felto-publish
work=$out/lean-work
results=$out/lean.txt
rm -rf "$work"
mkdir -p "$work"/{nginx/temp,www}
: >"$results"

nginx_pid="" holder_pid=""
stop_holder() {
  [ -n "$holder_pid" ] || return 0
  kill "$holder_pid" 2>/dev/null || true
  wait "$holder_pid" 2>/dev/null || true
  holder_pid=""
  iptables -D INPUT -i lo -j NFQUEUE --queue-num 0 2>/dev/null || true
}
cleanup() {
  stop_holder
  if [ -n "$nginx_pid" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Up to `tries` checks, 50 ms apart, of a command.
eventually() {
  local tries=$1
  shift
  for ((t = 0; t < tries; t++)); do
    "$@" && return 0
    sleep 0.05
  done
  return 1
}
port_open() { (exec 3<>/dev/tcp/127.0.0.1/80) 2>/dev/null; }

start_nginx() {
  local n=$work/nginx
  write_nginx_conf "$n" "$work/www/current" 80 1024 \
    "log_format lean '\$connection \$bytes_sent';" "access_log $n/access.log lean;"
  nginx -p "$n/" -c "$n/nginx.conf" -e "$n/error.log" &
  nginx_pid=$!
  eventually 200 port_open || {
    cat "$n/error.log" >&2
    exit 1
  }
}

# Holds every packet arriving on loopback for half of `rtt` ms (none for 0).
set_round_trip() {
  local rtt=$1
  stop_holder
  [ "$rtt" -gt 0 ] || return 0
  "$holder" 0 "$(awk "BEGIN{print $rtt / 2}")" >"$work/holder.out" 2>"$work/holder.err" &
  holder_pid=$!
  eventually 100 grep -qs ready "$work/holder.out" || {
    cat "$work/holder.err" >&2
    exit 1
  }
  iptables -A INPUT -i lo -j NFQUEUE --queue-num 0
}

# The round trip obtained: the median TCP connect time of 7 connections, in ms.
measured_round_trip() {
  local url=$1
  for _ in 1 2 3 4 5 6 7; do
    curl -s -o /dev/null -w '%{time_connect}\n' "$url"
  done | sort -n | awk '{v[NR]=$1} END {printf "%.1f", v[4] * 1000}'
}

# Publishes the game folder $2 as tree $1 and makes it the one served.
publish() {
  local name=$1 game=$2
  "$publisher" --input "$game" --output "$work/www/$name" --quiet >"$work/publish.log" 2>&1 ||
    {
      cat "$work/publish.log" >&2
      exit 1
    }
  ln -sfn "$work/www/$name" "$work/www/current"
  (cd "$work/www/$name" && find microclient/objects -type f | sort) |
    sed 's#^#http://127.0.0.1/#' >"$work/urls-$name.txt"
  sed 's#^\(.*/\)\([^/]*\)$#url = "\1\2"\noutput = "\2"#' "$work/urls-$name.txt" \
    >"$work/curl-$name.cfg"
  tree_bytes=$(cd "$work/www/$name" && find microclient/objects -type f -printf '%s\n' |
    awk '{s += $1} END {print s}')
  tree_files=$(find "$game" -type f | wc -l)
  largest_url=http://127.0.0.1/$(cd "$work/www/$name" &&
    find microclient/objects -type f -printf '%s %p\n' | sort -n | tail -n 1 | cut -d' ' -f2)
}

make_files() {
  local game=$1 count=$2 bytes=$3
  rm -rf "$game"
  mkdir -p "$game/data"
  for ((i = 0; i < count; i++)); do
    head -c "$bytes" /dev/urandom >"$game/data/file$i.bin"
  done
  printf '#!/bin/sh\n' >"$game/Felto.exe"
}

fresh_home() { rm -rf "${work:?}/home" "$work/fetched" && mkdir -p "$work/home" "$work/fetched"; }

# The installer as a player runs it; fails the bench unless it installed every file.
install() {
  local installer=$1 installed
  (cd "$work/home" && HOME=$work/home timeout 3600 "$installer") 2>"$work/installer.stderr" || true
  installed=$(find "$work/home/Felto" -type f ! -name 'FeltoInstaller*' 2>/dev/null | wc -l)
  if grep -q 'error,code' "$work/home/Felto/FeltoInstaller.log" || [ "$installed" -lt "$tree_files" ]; then
    echo "the installer failed ($installed of $tree_files files):" >&2
    tail -n 5 "$work/home/Felto/FeltoInstaller.log" >&2
    return 1
  fi
}
curl_parallel() {
  (cd "$work/fetched" && curl -sS --fail -Z --parallel-max 8 -K "$work/curl-$1.cfg")
}
curl_md5sum() {
  curl -sS --fail -o "$work/fetched/big" "$largest_url" &&
    md5sum "$work/fetched/big" >/dev/null
}

log_lines() { wc -l <"$work/nginx/access.log"; }
# nginx writes a request's line when it ends, which may be just after the client has gone.
log_settled() {
  local before
  before=$(log_lines)
  sleep 0.1
  [ "$(log_lines)" = "$before" ]
}

# Runs a program `rounds` times from a fresh home and records
# "<tree> <rtt asked> <rtt measured> <label> <median s> <peak KiB> <bytes sent> <tree bytes> <connections>"
# (bytes and connections of the last round).
measure() {
  local tree=$1 rtt=$2 measured=$3 label=$4
  shift 4
  local times=() peak=0 r line
  for ((r = 0; r < rounds; r++)); do
    fresh_home
    : >"$work/nginx/access.log"
    if ! /usr/bin/time -f '%e %M' -o "$work/time.out" bash -c '"$@"' _ "$@" >"$work/run.out" 2>&1; then
      echo "$label failed on the $tree tree at $rtt ms:" >&2
      tail -n 5 "$work/run.out" >&2
      exit 1
    fi
    [ -z "$holder_pid" ] || kill -0 "$holder_pid" || {
      echo "latency_holder stopped" >&2
      exit 1
    }
    line=$(tail -n 1 "$work/time.out")
    times+=("${line% *}")
    [ "${line#* }" -gt "$peak" ] && peak=${line#* }
  done
  eventually 40 log_settled || true
  local median sent connections
  median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}')
  sent=$(awk '{s += $2} END {print s + 0}' "$work/nginx/access.log")
  connections=$(awk '{print $1}' "$work/nginx/access.log" | sort -u | wc -l)
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$tree" "$rtt" "$measured" "$label" "$median" \
    "$peak" "$sent" "$tree_bytes" "$connections" | tee -a "$results"
}

# The programs on one tree at one round trip.
run_case() {
  local tree=$1 rtt=$2 measured slow
  set_round_trip "$rtt"
  measured=$(measured_round_trip "http://127.0.0.1/")
  slow=""
  if [ -n "$quick" ] && [ "$rtt" -ge 100 ]; then slow=1; fi
  if [ -z "$slow" ]; then
    measure "$tree" "$rtt" "$measured" "Felto, pause 0, 8 parallel" install "$fast_build/FeltoInstaller"
  fi
  measure "$tree" "$rtt" "$measured" "Felto lean, pause 0, 8 parallel" install "$lean_build/FeltoInstaller"
  measure "$tree" "$rtt" "$measured" "curl -Z --parallel-max 8" curl_parallel "$tree"
  measure "$tree" "$rtt" "$measured" "aria2c -j8 -x3" \
    aria2c -q -j8 -x3 -d "$work/fetched" -i "$work/urls-$tree.txt"
  if [ -z "$slow" ]; then
    measure "$tree" "$rtt" "$measured" "wget -i" wget -q -P "$work/fetched" -i "$work/urls-$tree.txt"
  fi
  if [ "$tree" = big ]; then
    measure "$tree" "$rtt" "$measured" "curl, then md5sum" curl_md5sum
  fi
}

export -f install curl_parallel curl_md5sum
export work tree_files largest_url

start_nginx
for tree in $trees; do
  game=$work/game-$tree
  case $tree in
  small) make_files "$game" 1000 20000 ;;
  medium) make_files "$game" 100 1000000 ;;
  big)
    make_files "$game" 0 0
    head -c 200000000 /dev/urandom >"$game/data/big.bin"
    ;;
  *)
    echo "unknown tree: $tree" >&2
    exit 2
    ;;
  esac
  publish "$tree" "$game"
  export tree_files largest_url
  extra=$([ "$tree" != big ] || echo "$big_round_trips")
  for rtt in $round_trips $extra; do
    run_case "$tree" "$rtt"
  done
  rm -rf "$game" "$work/www/$tree"
done
set_round_trip 0

# The table: times over curl -Z's in the same case, and for the 200 MB file over curl's download
# followed by md5sum.
awk -F '\t' '
  function mib(kib) { return sprintf("%.1f", kib / 1024) }
  { row[NR] = $0; key = $1 "/" $2
    if ($4 == "curl -Z --parallel-max 8") curl[key] = $5
    if ($4 == "curl, then md5sum") md5[key] = $5 }
  END {
    names["small"] = "1,000 × 20 KB"; names["medium"] = "100 × 1 MB"; names["big"] = "1 × 200 MB"
    print "| tree | round trip (measured) | program | time (s) | / curl -Z | / curl + md5sum | bytes sent / tree | connections | peak memory (MiB) |"
    print "|---|---|---|---|---|---|---|---|---|"
    for (i = 1; i <= NR; i++) {
      split(row[i], f, "\t"); key = f[1] "/" f[2]
      ratio = (key in curl) && curl[key] > 0 ? sprintf("%.2f", f[5] / curl[key]) : "-"
      md5ratio = (key in md5) && md5[key] > 0 ? sprintf("%.2f", f[5] / md5[key]) : ""
      printf "| %s | %s ms (%s) | %s | %s | %s | %s | %.3f | %d | %s |\n", names[f[1]], f[2], f[3],
        f[4], f[5], ratio, md5ratio, f[7] / f[8], f[9], mib(f[6])
    }
  }' "$results" >"$out/lean.md"
cat "$out/lean.md"
