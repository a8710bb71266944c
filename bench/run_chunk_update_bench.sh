#!/usr/bin/env bash
# An update by chunks next to the whole object's update of the same change, over a round trip, by
# the bytes nginx sends and the update's wall time:
#   (a) ten 4 KiB changes spread through one large file   (b) 1 KiB inserted at 10 % of it
#   (c) the same file moved to another folder of the game (the earlier release's copy installed)
# For each: the file is published with --chunks and installed, changed and published again, and
# the same installed game is updated once by the installer built without chunked updates and once
# by the one built with them; both at the studio's fast pace with the lean transfer, so the whole
# object comes over kept connections in closed ranges, as fast as the installer fetches it.
#
# Runs in a private network namespace with loopback only (nginx on 127.0.0.1:80, 1,500-byte
# packets), where latency_holder holds every packet for half the round trip during the updates
# (see bench/run_lean_bench.sh); the installs before them have none.
#
# Usage: bench/run_chunk_update_bench.sh OUT_DIR WHOLE_BUILD CHUNKED_BUILD HOLDER [MIB]
#   WHOLE_BUILD holds FeltoInstaller built with FELTO_LEAN_TRANSFER=ON; CHUNKED_BUILD the same with
#   FELTO_CHUNKED_UPDATES=ON too, and tools/felto-publish. HOLDER: the latency_holder program.
#   MIB: the file's size (default 256). FELTO_BENCH_ROUND_TRIP: the round trip in ms (default 20).
#   FELTO_BENCH_RATE: a player's bandwidth during the updates, as tc writes it ("100mbit"; default
#   none: loopback's own, which makes the whole object about as fast to fetch as to write).
# Writes OUT_DIR/chunk-update.txt (one line per update) and OUT_DIR/chunk-update.md (the table),
# named chunk-update-RATE.* with a bandwidth.
set -euo pipefail

if [ -z "${FELTO_BENCH_INSIDE:-}" ]; then
  export FELTO_BENCH_INSIDE=1
  exec unshare -rn -- "$0" "$@"
fi
PATH=$PATH:/usr/sbin:/sbin
ip link set lo up
ip link set lo mtu 1500
. "$(dirname "$0")/../scripts/lib/nginx_conf.sh"

[ $# -ge 4 ] || {
  echo "usage: $0 OUT_DIR WHOLE_BUILD CHUNKED_BUILD HOLDER [MIB]" >&2
  exit 2
}
out=$(realpath -m "$1") whole=$(realpath "$2") chunked=$(realpath "$3") holder=$(realpath "$4")
mib=${5:-256} rtt=${FELTO_BENCH_ROUND_TRIP:-20} rate=${FELTO_BENCH_RATE:-}
publisher=$chunked/tools/felto-publish/felto-publish
work=$out/chunk-work
table=$out/chunk-update${rate:+-$rate}
results=$table.txt
size=$((mib * 1024 * 1024))
rm -rf "$work"
mkdir -p "$work"/{nginx/temp,www}
: >"$results"

# One latency_holder for the whole run, started once: the updates only turn the queue to it (and
# the bandwidth) on and off.
holder_pid=
start_holder() {
  [ "$rtt" -gt 0 ] || return 0
  "$holder" 0 "$(awk "BEGIN{print $rtt / 2}")" >"$work/holder.out" 2>"$work/holder.err" &
  holder_pid=$!
  for _ in $(seq 400); do
    grep -qs ready "$work/holder.out" && return 0
    kill -0 "$holder_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "latency_holder did not start:" >&2
  cat "$work/holder.err" >&2
  exit 1
}
stop_holder() {
  [ -n "$holder_pid" ] || return 0
  kill "$holder_pid" 2>/dev/null || true
  wait "$holder_pid" 2>/dev/null || true
  holder_pid=
}
# Every packet arriving on loopback held for half the round trip, and let leave no faster than the
# bandwidth; or neither.
slow_network() {
  [ -z "$rate" ] || tc qdisc add dev lo root tbf rate "$rate" burst 64kb latency 400ms
  [ -z "$holder_pid" ] || iptables -A INPUT -i lo -j NFQUEUE --queue-num 0
}
fast_network() {
  [ -z "$holder_pid" ] || iptables -D INPUT -i lo -j NFQUEUE --queue-num 0 2>/dev/null || true
  [ -z "$rate" ] || tc qdisc del dev lo root 2>/dev/null || true
}

nginx_pid=
stop_nginx() {
  if [ -n "$nginx_pid" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  nginx_pid=
}
trap 'fast_network; stop_holder; stop_nginx; rm -rf "$work"' EXIT
start_holder

# nginx with a fresh access log of "<uri> <bytes sent>" lines (response heads included).
start_nginx() {
  local n=$work/nginx
  : >"$n/access.log"
  write_nginx_conf "$n" "$work/www" 80 1024 "log_format sent '\$request_uri \$bytes_sent';" \
    "access_log $n/access.log sent;"
  nginx -p "$n/" -c "$n/nginx.conf" -e "$n/error.log" &
  nginx_pid=$!
  for _ in $(seq 200); do
    (exec 3<>/dev/tcp/127.0.0.1/80) 2>/dev/null && return 0
    kill -0 "$nginx_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "nginx did not start:" >&2
  cat "$n/error.log" >&2
  exit 1
}

# Bytes the finished run made nginx send, manifests included (stopping it writes its log out).
sent_bytes() {
  stop_nginx
  awk '{s += $2} END {print s + 0}' "$work/nginx/access.log"
}

publish() {
  "$publisher" --input "$work/game" --output "$work/www" --chunks --quiet >"$work/publish.log" 2>&1 ||
    { cat "$work/publish.log" >&2; exit 1; }
}

install() {
  local home=$1 installer=$2
  local status=0
  (cd "$home" && HOME=$home timeout 3600 "$installer") 2>"$work/installer.stderr" || status=$?
  if [ $status -ne 0 ] || grep -q 'error,code' "$home/Felto/FeltoInstaller.log"; then
    echo "$installer ended with $status:" >&2
    tail -n 5 "$home/Felto/FeltoInstaller.log" >&2
    exit 1
  fi
}

change() {
  local file=$work/game/data/world.pak
  case $1 in
  a)
    for i in $(seq 0 9); do
      dd if=/dev/urandom of="$file" bs=4096 count=1 seek=$(((2 * i + 1) * size / 20 / 4096)) \
        conv=notrunc status=none
    done
    ;;
  b)
    local at=$((size / 10))
    { head -c "$at" "$file"; head -c 1024 /dev/urandom; tail -c +$((at + 1)) "$file"; } >"$file.new"
    mv "$file.new" "$file"
    ;;
  c)
    mkdir -p "$work/game/data/moved"
    mv "$file" "$work/game/data/moved/world.pak"
    rel=data/moved/world.pak
    ;;
  esac
}

for c in a b c; do
  rel=data/world.pak
  rm -rf "$work/game" "$work/www" "$work/home"
  mkdir -p "$work/game/data" "$work/www" "$work/home"
  printf '#!/bin/sh\n' >"$work/game/Felto.exe"
  head -c "$size" /dev/urandom >"$work/game/data/world.pak"
  publish
  start_nginx
  install "$work/home" "$whole/FeltoInstaller"
  stop_nginx
  change $c
  publish
  for kind in whole chunked; do
    rm -rf "$work/update"
    cp -a "$work/home" "$work/update"
    installer=$whole/FeltoInstaller
    [ $kind = whole ] || installer=$chunked/FeltoInstaller
    start_nginx
    slow_network
    # The round trip obtained, once: the median TCP connect time of 7 connections, in ms.
    [ -n "${measured:-}" ] || measured=$(for _ in 1 2 3 4 5 6 7; do
      curl -s -o /dev/null -w '%{time_connect}\n' http://127.0.0.1/
    done | sort -n | awk '{v[NR]=$1} END {printf "%.1f", v[4] * 1000}')
    start=$(date +%s.%N)
    install "$work/update" "$installer"
    seconds=$(awk "BEGIN{print $(date +%s.%N) - $start}")
    fast_network
    bytes=$(sent_bytes)
    cmp -s "$work/game/$rel" "$work/update/Felto/$rel" ||
      { echo "($c) $kind: the update installed a wrong file" >&2; exit 1; }
    printf '%s\t%s\t%d\t%d\t%.2f\n' "$c" "$kind" "$size" "$bytes" "$seconds" >>"$results"
    printf '(%s) %-8s update of %d MiB at %d ms: %12d bytes sent (%.2f %% of the file) %7.2f s\n' \
      "$c" "$kind" "$mib" "$rtt" "$bytes" "$(awk "BEGIN{print 100 * $bytes / $size}")" "$seconds"
    grep -h 'Chunked update of' "$work/update/Felto/FeltoInstaller.log" | sed 's/^/    /' || true
  done
done

# The table: each update by chunks next to the whole object's update of the same change.
awk -F '\t' -v mib="$mib" -v rtt="$rtt" -v measured="$measured" -v rate="${rate:-unlimited}" '
  $2 == "whole" { wb[$1] = $4; wt[$1] = $5 }
  $2 == "chunked" { cb[$1] = $4; ct[$1] = $5; size = $3; order[++n] = $1 }
  END {
    names["a"] = "(a) ten 4 KiB changes spread through the file"
    names["b"] = "(b) 1 KiB inserted at 10 % of the file"
    names["c"] = "(c) the file moved to another folder"
    printf "| case (%d MiB, %d ms round trip, measured %s; %s bandwidth) | whole object: bytes sent | time (s) | by chunks: bytes sent | time (s) | time / whole |\n", mib, rtt, measured, rate
    print "|---|---|---|---|---|---|"
    for (i = 1; i <= n; i++) {
      k = order[i]
      ratio = wt[k] > 0 ? ct[k] / wt[k] : 0
      printf "| %s | %d (%.1f %%) | %.2f | %d (%.2f %%) | %.2f | %.3f |\n", names[k], wb[k],
        100 * wb[k] / size, wt[k], cb[k], 100 * cb[k] / size, ct[k], ratio
    }
  }' "$results" >"$table.md"
cat "$table.md"
