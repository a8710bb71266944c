#!/usr/bin/env bash
# Installs what building and testing need on Debian (idempotent and quiet).
# "scripts/install-deps.sh demo" installs only what scripts/demo.sh runs: the native build,
# nginx, 7-Zip, openssl, unshare and gnuplot; no Wine, test servers or test libraries.
set -euo pipefail

demo_packages=(cmake g++ make libssl-dev openssl zlib1g-dev nginx-light p7zip-full
  iproute2 util-linux gnuplot-nox)
packages=("${demo_packages[@]}" libgtest-dev libgmock-dev googletest libbenchmark-dev
  mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine32:i386 wine64
  apache2 lighttpd xvfb locales-all
  curl aria2 wget haproxy time clang libclang-rt-14-dev python3
  varnish squid trafficserver osslsigncode fonts-wqy-microhei
  iptables libnetfilter-queue-dev pkg-config strace)
only_demo=false
case "${1:-}" in
  demo) only_demo=true packages=("${demo_packages[@]}") ;;
  "") ;;
  *) echo "usage: scripts/install-deps.sh [demo]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

# The Windows 7-Zip command line that players' installs run (7za.exe), for the Wine tests: from
# the npm registry's 7zip-bin package, into a fixed folder (tests read FELTO_7ZIP_BIN or this path).
install_7za() {
  local folder=/opt/felto-7zip-bin
  [ -f "$folder/node_modules/7zip-bin/win/x64/7za.exe" ] && return 0
  if ! command -v npm >/dev/null 2>&1; then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
      --no-install-recommends npm >/dev/null
  fi
  $SUDO npm install --silent --no-audit --no-fund --prefix "$folder" 7zip-bin@5.2.0 >/dev/null
}

if [ ${#missing[@]} -eq 0 ]; then
  $only_demo || install_7za
  exit 0
fi
echo "installing: ${missing[*]}"
if ! $only_demo && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
$only_demo || install_7za
