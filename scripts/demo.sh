#!/usr/bin/env bash
# The whole road on one machine: builds the installer (with a demo release key) and
# felto-publish, makes a small sample game, publishes it signed, serves it with nginx on
# 127.0.0.1:80 inside a private network namespace, installs it into a demo home, then changes one
# file, republishes and updates, and last shows a manifest changed on the way and the first
# release served again being refused. The installer is built as a studio with a CDN in front of
# its origin builds it: the CDN stand-in (nginx on port 80) first, the origin (nginx on port 8080)
# as its fall-back server, and each run's outcome reported; the CDN stand-in is stopped once, and
# the studio's report is read back from both servers' access logs.
# Everything lands in demo-home/ (game, served tree, nginx files, the player's home).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
export PATH="$PATH:/usr/sbin:/sbin"
. scripts/lib/sample_game.sh
. scripts/lib/nginx_conf.sh

scripts/install-deps.sh demo
# The studio's release key pair (a demo key, kept with the demo build): the installer is built
# with the public key and takes only manifests signed with the private one.
keys=$root/build/demo-key
if [ ! -s "$keys/release-public.pem" ]; then
  mkdir -p "$keys"
  openssl ecparam -name prime256v1 -genkey -noout -out "$keys/release-private.pem"
  openssl ec -in "$keys/release-private.pem" -pubout -out "$keys/release-public.pem" 2>/dev/null
fi
cmake -S . -B build/demo -DFELTO_SERVER_URL=http://127.0.0.1 -DFELTO_BUILD_TESTS=OFF \
  -DFELTO_RELEASE_KEY="$keys/release-public.pem" -DFELTO_FALLBACK_SERVERS=http://127.0.0.1:8080 \
  -DFELTO_REPORT_PATH=microclient/report >/dev/null
cmake --build build/demo -j"$(nproc)"
installer=$root/build/demo/FeltoInstaller
publisher=$root/build/demo/tools/felto-publish/felto-publish

demo=$root/demo-home
rm -rf "$demo"
mkdir -p "$demo"/{game,www,home,nginx/temp,origin/temp}
game=$demo/game www=$demo/www home=$demo/home nginx=$demo/nginx origin=$demo/origin

# nginx runs inside the namespace, but it is an ordinary process of ours: whatever happens, it
# is stopped here by its process id.
stop_nginx() {
  local pid dir
  for dir in "$nginx" "$origin"; do
    pid=$(cat "$dir/running.pid" 2>/dev/null) || continue
    rm -f "$dir/running.pid"
    if [ -r "/proc/$pid/cmdline" ] && grep -q nginx "/proc/$pid/cmdline"; then
      kill "$pid" 2>/dev/null || true
    fi
  done
}
trap stop_nginx EXIT
trap 'exit 130' INT TERM

section() { printf '\n==== %s ====\n' "$*"; }

# ---- The sample game ----
section "sample game in $game"
make_sample_game "$game"
cat >"$game/Felto.exe" <<'EOF'
#!/bin/sh
echo "Felto: the game started in $(pwd)" >>game-started.log
EOF
(cd "$game" && find . -type f -printf '%10s  %P\n' | sort -k2)

# ---- Serving and installing, inside a private network namespace ----
# Starts the CDN stand-in (nginx on 127.0.0.1:80) and the origin (nginx on 127.0.0.1:8080) in a
# fresh namespace, runs the installer as a player with the demo home, stops both. $1 names the
# run (the CDN stand-in's access log is nginx/access-$1.log, the origin's origin/access-$1.log);
# $2 "cdn-down" leaves the CDN stand-in stopped. Both also keep nginx's default "combined" log,
# combined.log, where the installers' reports land.
serve_and_install() {
  local run=$1 cdn=${2:-cdn-up} dir port
  for dir in "$nginx" "$origin"; do
    port=80
    [ "$dir" = "$nginx" ] || port=8080
    write_nginx_conf "$dir" "$www" $port 64 \
      "log_format felto '\$uri \"\$http_range\" \$status \$body_bytes_sent';" \
      "access_log $dir/access-$run.log felto;" "access_log $dir/combined.log combined;"
    : >"$dir/access-$run.log"
  done
  # "user root" is root of the namespace, that is the user running this script.
  unshare -rn bash -c '
    set -u
    nginx=$1 origin=$2 installer=$3 home=$4 cdn=$5
    ip link set lo up
    pids=()
    # QUIT: nginx ends gracefully, logging the requests it has answered (the last report).
    trap "kill -QUIT \${pids[*]} 2>/dev/null; wait \${pids[*]} 2>/dev/null" EXIT
    start() { # $1 folder, $2 port
      nginx -p "$1/" -c "$1/nginx.conf" -e "$1/error.log" &
      pids+=($!)
      echo $! >"$1/running.pid"
      for _ in $(seq 200); do
        (exec 3<>/dev/tcp/127.0.0.1/$2) 2>/dev/null && return 0
        kill -0 $! 2>/dev/null || break
        sleep 0.05
      done
      echo "nginx did not start:" >&2; cat "$1/error.log" >&2; exit 1
    }
    start "$origin" 8080
    [ "$cdn" = cdn-down ] || start "$nginx" 80
    # --foreground: the installer stays in our process group, so Ctrl-C reaches it too.
    cd "$home" && HOME=$home timeout --foreground 300 "$installer"
  ' demo "$nginx" "$origin" "$installer" "$home" "$cdn" 2>"$demo/installer-$run.stderr" || {
    echo "the installer run failed:" >&2
    cat "$demo/installer-$run.stderr" >&2
    exit 1
  }
  rm -f "$nginx/running.pid" "$origin/running.pid"
}

# The installed copy of every game file must be the published one.
check_installed() {
  local bad=0 f
  while IFS= read -r f; do
    cmp -s "$game/$f" "$home/Felto/$f" || { echo "NOT INSTALLED: $f"; bad=1; }
  done < <(cd "$game" && find . -type f -printf '%P\n')
  return $bad
}

show_run() {
  local run=$1 log=$home/Felto/FeltoInstaller.log
  section "installer log ($run)"
  cat "$log"
  section "installed tree ($run)"
  (cd "$home/Felto" && find . -path ./incoming -prune -o -type f -printf '%10s  %P\n' | sort -k2)
  if ! check_installed; then
    echo "the installer did not install the game (its message: $(grep -a '^\[' "$demo/installer-$run.stderr" | tail -n 1))" >&2
    exit 1
  fi
  echo "every game file is installed as published"
  for _ in $(seq 100); do # the game runs on its own; give it a bounded moment
    [ -s "$home/Felto/game-started.log" ] && break
    sleep 0.05
  done
  [ -s "$home/Felto/game-started.log" ] && tail -n 1 "$home/Felto/game-started.log"
  echo "log: $(grep -c '文件不存在' "$log" || true) files missing, $(grep -c 'MD5不一致' "$log" || true) files differing"
  echo "objects fetched from nginx (requests per object):"
  grep -o '^/microclient/objects/[^ ]*' "$nginx/access-$run.log" | sort | uniq -c || echo "  none"
}

section "publish"
"$publisher" --input "$game" --output "$www" --pack '*.pak' --sign-key "$keys/release-private.pem"
cat "$www/microclient/download/launcher_manifest_x64.js"
ls -l "$www/microclient/download"

# The first release as signed, for the rollback below.
cp "$www/microclient/download/launcher_manifest_x64.js" "$demo/first.js"
cp "$www/microclient/download/launcher_manifest_x64.js.sig" "$demo/first.js.sig"

section "first install (home: $home)"
serve_and_install first
show_run first

section "update: data/config.ini changes, republish"
printf '[launcher]\nserver=127.0.0.1\nversion=2\n' >"$game/data/config.ini"
"$publisher" --input "$game" --output "$www" --pack '*.pak' --sign-key "$keys/release-private.pem"
serve_and_install update
show_run update

log=$home/Felto/FeltoInstaller.log
changed=$(($(grep -c '文件不存在' "$log" || true) + $(grep -c 'MD5不一致' "$log" || true)))
fetched=$(grep -o '^/microclient/objects/[^ ]*' "$nginx/access-update.log" | sort -u | wc -l)
section "result"
echo "the update found $changed changed file(s) and fetched $fetched object(s)"
if [ "$changed" -ne 1 ] || [ "$fetched" -ne 1 ]; then
  echo "the update should have changed and fetched exactly one file" >&2
  exit 1
fi
section "a manifest changed on the way is refused"
# What someone between the server and the player might do: point an entry at other bytes and fix
# the size header, keeping the studio's signature.
manifest=$www/microclient/download/launcher_manifest_x64.js
cp "$manifest" "$demo/manifest.signed"
tail -n +2 "$demo/manifest.signed" |
  sed -E 's#(\tdata/config\.ini\t)[0-9a-f]{32}#\1ffffffffffffffffffffffffffffffff#' >"$demo/body"
{ printf '#%d\n' "$(wc -c <"$demo/body")"; cat "$demo/body"; } >"$manifest"
diff "$demo/manifest.signed" "$manifest" || true
serve_and_install tampered
log=$home/Felto/FeltoInstaller.log
grep -a -E 'signature|error,code' "$log"
if ! grep -q 'error,code:106, ext err:1' "$log" || ! grep -q 'the signature does not match' "$log"; then
  echo "the changed manifest should have been refused" >&2
  exit 1
fi
check_installed && echo "refused with code 106; the installed game is still the signed update"
cp "$demo/manifest.signed" "$manifest"

section "the first release, signed, served again is refused"
# The first release's manifest and signature are genuine, but older than the update installed.
cp "$manifest.sig" "$demo/manifest.signed.sig"
cp "$demo/first.js" "$manifest"
cp "$demo/first.js.sig" "$manifest.sig"
serve_and_install rollback
log=$home/Felto/FeltoInstaller.log
grep -a -E 'signature|release|error,code' "$log"
if ! grep -q 'error,code:106, ext err:2' "$log"; then
  echo "the older release should have been refused" >&2
  exit 1
fi
check_installed && echo "refused with code 106; the installed game is still the signed update"
cp "$demo/manifest.signed" "$manifest"
cp "$demo/manifest.signed.sig" "$manifest.sig"

section "the CDN stand-in stopped: the install completes from the origin"
rm -rf "$home/Felto/data" "$home/Felto/incoming"
serve_and_install cdn-down cdn-down
show_run cdn-down
log=$home/Felto/FeltoInstaller.log
grep -a -E 'attempt [0-9]+ of microclient/download/launcher_manifest_x64.js' "$log"
if ! grep -q 'launcher_manifest_x64.js from http://127.0.0.1:8080' "$log" ||
  grep -q 'error,code' "$log"; then
  echo "the install should have completed from the origin" >&2
  exit 1
fi
echo "objects fetched from the origin: $(grep -c '^/microclient/objects/' "$origin/access-cdn-down.log")"

section "felto-publish report on the servers' access logs"
"$publisher" report "$nginx/combined.log" "$origin/combined.log" --plot "$demo/report.png"
echo "daily success rate per release drawn in $demo/report.png"

echo "demo finished; everything is in $demo"
