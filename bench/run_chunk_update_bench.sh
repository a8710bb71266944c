#!/usr/bin/env bash
# An update by chunks next to the whole object's update of the same change, by the object bytes
# nginx sends and the update's wall time:
#   (a) ten 4 KiB changes spread through one large file   (b) 1 KiB inserted at 10 % of it
#   (c) the same file moved to another folder of the game   (d) the same, with the download
#       folder emptied since (a player's clean-up): the moved bytes are then only installed
# For each: the file is published with --chunks and installed, changed and published again, and
# the same installed game is updated once by the installer built without chunked updates and once
# by the one built with them. Runs in a private network namespace (nginx on 127.0.0.1:80).
#
# Usage: bench/run_chunk_update_bench.sh OUT_DIR WHOLE_BUILD CHUNKED_BUILD [MIB]
#   WHOLE_BUILD holds FeltoInstaller; CHUNKED_BUILD FeltoInstaller built with
#   FELTO_CHUNKED_UPDATES=ON, and tools/felto-publish. MIB: the file's size (default 64).
set -euo pipefail

if [ -z "${FELTO_BENCH_INSIDE:-}" ]; then
  export FELTO_BENCH_INSIDE=1
  exec unshare -rn -- "$0" "$@"
fi
ip link set lo up
. "$(dirname "$0")/../scripts/lib/nginx_conf.sh"

out=$(realpath -m "$1") whole=$(realpath "$2") chunked=$(realpath "$3") mib=${4:-64}
publisher=$chunked/tools/felto-publish/felto-publish
work=$out/chunk-work
results=$out/chunk-update.txt
size=$((mib * 1024 * 1024))
rm -rf "$work"
mkdir -p "$work"/{nginx/temp,www}
: >"$results"

nginx_pid=
stop_nginx() {
  if [ -n "$nginx_pid" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  nginx_pid=
}
trap 'stop_nginx; rm -rf "$work"' EXIT

# nginx with a fresh access log of "<uri> <body bytes sent>" lines.
start_nginx() {
  local n=$work/nginx
  : >"$n/access.log"
  write_nginx_conf "$n" "$work/www" 80 1024 "log_format sent '\$request_uri \$body_bytes_sent';" \
    "access_log $n/access.log sent;"
  nginx -p "$n/" -c "$n/nginx.conf" -e "$n/error.log" &
  nginx_pid=$!
  for _ in $(seq 200); do
    (exec 3<>/dev/tcp/127.0.0.1/80) 2>/dev/null && return 0
    kill -0 "$nginx_pid" 2>/dev/null || break
    sleep 0.05
  done
  cat "$n/error.log" >&2
  exit 1
}

# Object bytes the finished run made nginx send (stopping it writes its log out).
object_bytes() {
  stop_nginx
  awk '$1 ~ /^\/microclient\/objects\// {s += $2} END {print s + 0}' "$work/nginx/access.log"
}

publish() {
  "$publisher" --input "$work/game" --output "$work/www" --chunks --quiet >"$work/publish.log" 2>&1 ||
    { cat "$work/publish.log" >&2; exit 1; }
}

install() {
  local home=$1 installer=$2
  (cd "$home" && HOME=$home timeout 3600 "$installer") 2>"$work/installer.stderr"
  if grep -q 'error,code' "$home/Felto/FeltoInstaller.log"; then
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
  c | d)
    mkdir -p "$work/game/data/moved"
    mv "$file" "$work/game/data/moved/world.pak"
    rel=data/moved/world.pak
    ;;
  esac
}

for c in a b c d; do
  rel=data/world.pak
  rm -rf "$work/game" "$work/www" "$work/home"
  mkdir -p "$work/game/data" "$work/www" "$work/home"
  printf '#!/bin/sh\n' >"$work/game/Felto.exe"
  head -c "$size" /dev/urandom >"$work/game/data/world.pak"
  publish
  start_nginx
  install "$work/home" "$whole/FeltoInstaller"
  stop_nginx
  [ $c != d ] || find "$work/home/Felto/incoming" -type f -delete
  change $c
  publish
  for kind in whole chunked; do
    rm -rf "$work/update"
    cp -a "$work/home" "$work/update"
    installer=$whole/FeltoInstaller
    [ $kind = whole ] || installer=$chunked/FeltoInstaller
    start_nginx
    start=$(date +%s.%N)
    install "$work/update" "$installer"
    seconds=$(awk "BEGIN{print $(date +%s.%N) - $start}")
    bytes=$(object_bytes)
    cmp -s "$work/game/$rel" "$work/update/Felto/$rel" ||
      { echo "($c) $kind: the update installed a wrong file" >&2; exit 1; }
    printf '(%s) %-8s update of %d MiB: %12d object bytes sent (%.2f %% of the file) %7.2f s\n' \
      "$c" "$kind" "$mib" "$bytes" "$(awk "BEGIN{print 100 * $bytes / $size}")" "$seconds" |
      tee -a "$results"
    grep -h 'Chunked update of' "$work/update/Felto/FeltoInstaller.log" | sed 's/^/    /' || true
  done
done
