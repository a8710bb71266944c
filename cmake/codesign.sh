#!/usr/bin/env bash
# Signs a Windows program in place with Authenticode (Debian's osslsigncode).
# Usage: codesign.sh PROGRAM PFX [PASSWORD_FILE] [TIMESTAMP_URL]
# The signed copy replaces the program only once it is whole, so a failed signing leaves no
# half-written program behind.
set -euo pipefail
program=$1 pfx=$2 password=${3:-} timestamp=${4:-}
args=(sign -pkcs12 "$pfx" -n FeltoInstaller -h sha256)
[ -n "$password" ] && args+=(-readpass "$password")
[ -n "$timestamp" ] && args+=(-ts "$timestamp")
rm -f "$program.signed"
osslsigncode "${args[@]}" -in "$program" -out "$program.signed" >/dev/null
mv -f "$program.signed" "$program"
