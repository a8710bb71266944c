#!/usr/bin/env bash
# A fresh install, timed end to end, next to the usual download tools fetching the same objects
# from the same nginx in the same run:
#   (a) 1,000 files of 20 KB   (b) 100 files of 1 MB   (c) the demo tree
# each by the installer with the studio's default pace, by the installer built with pause 0,
# copy pause 0 and 8 parallel downloads, by `aria2c -j8 -x3 -s3`, `curl --parallel` and `wget -i`
# (one file after another). Then the repair of one changed 200 MB file (download and copy) against
# `curl` and `cp`, and `felto-publish check` and a fresh install of (c) direct and through haproxy
# (a plain reverse proxy in front of the same nginx).
#
# Everything runs in a private network namespace (nginx on 127.0.0.1:80, or behind haproxy on
# port 80). Prints one line per measurement: the median wall time of the rounds in seconds and
# the largest peak resident memory in KiB.
#
# Usage: bench/run_install_bench.sh OUT_DIR DEFAULT_BUILD FAST_BUILD [ROUNDS] [CASES]
#   DEFAULT_BUILD, FAST_BUILD: build folders holding FeltoInstaller and tools/felto-publish.
#   CASES: words out of "a b c repair proxy" (default: all). BEFORE_BUILD, when set, is a build
#   of an earlier version whose installer (and felto-publish) is measured beside them.
#   FELTO_BENCH_FAST_ONLY, when set, leaves out the default pace in cases a, b and c (case a
#   takes about 20 minutes a round with it).
set -euo pipefail

if [ -z "${FELTO_BENCH_INSIDE:-}" ]; then
  export FELTO_BENCH_INSIDE=1
  exec unshare -rn -- "$0" "$@"
fi
ip link set lo up
. "$(dirname "$0")/../scripts/lib/sample_game.sh"
. "$(dirname "$0")/../scripts/lib/nginx_conf.sh"

out=$(realpath -m "$1") default_build=$(realpath "$2") fast_build=$(realpath "$3")
rounds=${4:-3}
cases=${5:-a b c repair proxy}
before_build=${BEFORE_BUILD:+$(realpath "$BEFORE_BUILD")}
publisher=$default_build/tools/felto-publish/felto-publish
work=$out/work
rm -rf "$work"
mkdir -p "$work"/{nginx/temp,haproxy}
results=$out/install.txt
: >"$results"

pids=()
stop_servers() {
  local pid
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  pids=()
}
cleanup() {
  stop_servers
  rm -rf "$work"
}
trap cleanup EXIT

wait_for_port() {
  local port=$1 pid=$2
  for _ in $(seq 200); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

# nginx serves $work/www/current (a link switched from case to case) on `port`.
start_nginx() {
  local port=$1 n=$work/nginx
  write_nginx_conf "$n" "$work/www/current" "$port" 1024 "access_log off;"
  nginx -p "$n/" -c "$n/nginx.conf" -e "$n/error.log" &
  pids+=($!)
  wait_for_port "$port" $! || { cat "$n/error.log" >&2; exit 1; }
}

start_haproxy() {
  cat >"$work/haproxy/haproxy.cfg" <<EOF
global
  maxconn 1024
defaults
  mode http
  timeout connect 5s
  timeout client 60s
  timeout server 60s
frontend felto
  bind 127.0.0.1:80
  default_backend nginx
backend nginx
  server nginx 127.0.0.1:8081
EOF
  haproxy -db -f "$work/haproxy/haproxy.cfg" &
  pids+=($!)
  wait_for_port 80 $! || exit 1
}

# Publishes the game folder $2 as case $1 and makes it the one served.
publish() {
  local name=$1 game=$2
  "$publisher" --input "$game" --output "$work/www/$name" --pack "*.pak" --quiet >"$work/publish.log" 2>&1 ||
    { cat "$work/publish.log" >&2; exit 1; }
  ln -sfn "$work/www/$name" "$work/www/current"
  (cd "$work/www/$name" && find microclient/objects -type f | sort) |
    sed 's#^#http://127.0.0.1/#' >"$work/urls-$name.txt"
  sed 's#^\(.*/\)\([^/]*\)$#url = "\1\2"\noutput = "\2"#' "$work/urls-$name.txt" >"$work/curl-$name.cfg"
}

# Runs the command rounds times; `prepare` runs before each round, untimed. Prints and records
# "<label>  <median s>  <peak KiB>".
measure() {
  local label=$1 prepare=$2
  shift 2
  local times=() peak=0 r line
  for ((r = 0; r < rounds; r++)); do
    eval "$prepare"
    line=$(/usr/bin/time -f '%e %M' "$@" 2>&1 >/dev/null | tail -n 1)
    times+=("${line% *}")
    [ "${line#* }" -gt "$peak" ] && peak=${line#* }
  done
  local median
  median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}')
  printf '%-44s %9s s %8s KiB\n' "$label" "$median" "$peak" | tee -a "$results"
}

fresh_home() { rm -rf "$work/home" "$work/fetched" && mkdir -p "$work/home" "$work/fetched"; }

# The installer as a player runs it; fails the bench unless every file was installed.
install() {
  local installer=$1
  (cd "$work/home" && HOME=$work/home timeout 3600 "$installer") 2>"$work/installer.stderr"
  if grep -q 'error,code' "$work/home/Felto/FeltoInstaller.log"; then
    echo "the installer failed:" >&2
    tail -n 5 "$work/home/Felto/FeltoInstaller.log" >&2
    exit 1
  fi
}
export -f install
export work

tools_on() {
  local name=$1
  measure "$name: aria2c -j8 -x3" fresh_home \
    aria2c -q -j8 -x3 -s3 -d "$work/fetched" -i "$work/urls-$name.txt"
  measure "$name: curl --parallel" fresh_home \
    bash -c 'cd "$1" && curl -s --parallel -K "$2"' _ "$work/fetched" "$work/curl-$name.cfg"
  measure "$name: wget -i (serial)" fresh_home \
    wget -q -P "$work/fetched" -i "$work/urls-$name.txt"
}

installers_on() {
  local name=$1
  if [ -z "${FELTO_BENCH_FAST_ONLY:-}" ]; then
    measure "$name: installer, default pace" fresh_home \
      bash -c 'install "$1"' _ "$default_build/FeltoInstaller"
  fi
  measure "$name: installer, pause 0, 8 parallel" fresh_home \
    bash -c 'install "$1"' _ "$fast_build/FeltoInstaller"
  if [ -n "$before_build" ]; then
    measure "$name: installer, default pace, before" fresh_home \
      bash -c 'install "$1"' _ "$before_build/FeltoInstaller"
  fi
}

make_files() {
  local game=$1 count=$2 bytes=$3
  mkdir -p "$game/data"
  for ((i = 0; i < count; i++)); do
    head -c "$bytes" /dev/urandom >"$game/data/file$i.bin"
  done
  printf '#!/bin/sh\n' >"$game/Felto.exe"
}

# The demo's sample game (scripts/demo.sh): a packed file, one above 400 KiB, small ones.
make_demo_game() {
  make_sample_game "$1"
  printf '#!/bin/sh\n' >"$1/Felto.exe"
}

for c in $cases; do
  case $c in
  a | b | c)
    game=$work/game-$c
    case $c in
    a) make_files "$game" 1000 20000 ;;
    b) make_files "$game" 100 1000000 ;;
    c) make_demo_game "$game" ;;
    esac
    publish "$c" "$game"
    start_nginx 80
    installers_on "$c"
    tools_on "$c"
    stop_servers
    ;;
  repair)
    game=$work/game-repair
    make_files "$game" 1 0
    head -c 200000000 /dev/urandom >"$game/data/big.bin"
    publish repair-1 "$game"
    start_nginx 80
    fresh_home
    install "$fast_build/FeltoInstaller"
    cp -a "$work/home" "$work/home-installed"
    printf 'changed' | dd of="$game/data/big.bin" bs=1 seek=100000000 conv=notrunc status=none
    publish repair-2 "$game"
    changed=$(comm -13 "$work/urls-repair-1.txt" "$work/urls-repair-2.txt")
    again='rm -rf "$work/home" && cp -a "$work/home-installed" "$work/home"'
    measure "repair 200 MB: installer, default pace" "$again" \
      bash -c 'install "$1"' _ "$default_build/FeltoInstaller"
    measure "repair 200 MB: installer, pause 0, 8 parallel" "$again" \
      bash -c 'install "$1"' _ "$fast_build/FeltoInstaller"
    measure "repair 200 MB: curl + cp" "$again; rm -rf $work/fetched; mkdir -p $work/fetched" \
      bash -c 'curl -s -o "$1/fetched/big" "$2" && cp "$1/fetched/big" "$1/home/Felto/data/big.bin"' \
      _ "$work" "$changed"
    stop_servers
    rm -rf "$work/home-installed" "$work/www"/repair-*
    ;;
  proxy)
    game=$work/game-proxy
    [ -d "$game" ] || make_demo_game "$game"
    publish proxy "$game"
    for route in direct haproxy; do
      if [ $route = direct ]; then
        start_nginx 80
      else
        start_nginx 8081
        start_haproxy
      fi
      measure "felto-publish check, $route" : "$publisher" check http://127.0.0.1 --quiet
      measure "demo install, pause 0, 8 parallel, $route" fresh_home \
        bash -c 'install "$1"' _ "$fast_build/FeltoInstaller"
      if [ -n "$before_build" ]; then
        measure "felto-publish check, $route, before" : \
          "$before_build/tools/felto-publish/felto-publish" check http://127.0.0.1 --quiet
        measure "demo install, default pace, $route, before" fresh_home \
          bash -c 'install "$1"' _ "$before_build/FeltoInstaller"
        measure "demo install, default pace, $route" fresh_home \
          bash -c 'install "$1"' _ "$default_build/FeltoInstaller"
      fi
      stop_servers
    done
    ;;
  esac
done
