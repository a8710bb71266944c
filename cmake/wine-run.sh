#!/usr/bin/env bash
# Runs one cross-built Windows program under Wine; CTest's emulator for the Windows builds.
#   wine-run.sh program.exe [arguments...]
# The program runs in a Wine prefix of the build's own: $FELTO_WINEPREFIX, else "wineprefix"
# beside the program. The prefix is made once (wineboot -i) and reused. Every Wine process
# started for it is stopped when the program ends, so nothing outlives a test run.
# Without a display, message boxes return at once instead of waiting for a player, which is what
# a test run needs; DISPLAY is therefore removed.
set -u

if [ $# -lt 1 ]; then
    echo "usage: $0 program.exe [arguments...]" >&2
    exit 2
fi
exe=$1
shift

prefix=${FELTO_WINEPREFIX:-$(cd "$(dirname "$exe")" && pwd)/wineprefix}

# The PE header says whether the program is 32-bit (machine 0x14c) or 64-bit (0x8664).
pe_machine() {
    local offset
    offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    [ -n "$offset" ] || return 1
    od -An -tu2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}

find_tool() {
    local candidate
    for candidate in "$@"; do
        if [ -x "$candidate" ]; then
            echo "$candidate"
            return 0
        fi
        if command -v "$candidate" >/dev/null 2>&1; then
            command -v "$candidate"
            return 0
        fi
    done
    return 1
}

# A loader that exists but cannot execute (a 32-bit Wine on a kernel without 32-bit support)
# fails here instead of in the middle of a test.
runnable() { [ -n "$1" ] && "$1" --version >/dev/null 2>&1; }

wine32=$(find_tool /usr/lib/wine/wine wine || true)
wine64=$(find_tool /usr/lib/wine/wine64 wine64 || true)
wineserver=$(find_tool /usr/lib/wine/wineserver wineserver || true)
if [ -z "$wineserver" ]; then
    echo "wine-run: wineserver not found; install wine (scripts/install-deps.sh)" >&2
    exit 1
fi

case $(pe_machine "$exe") in
332) # 0x14c
    loader=$wine32
    if ! runnable "$loader"; then
        echo "wine-run: this machine cannot run 32-bit Windows programs (no 32-bit Wine, or a" \
            "kernel without 32-bit support); build the tests with cmake/mingw-x86_64.cmake" >&2
        exit 1
    fi
    ;;
34404) # 0x8664
    loader=$wine64
    if ! runnable "$loader"; then
        echo "wine-run: no 64-bit Wine (package wine64) for $exe" >&2
        exit 1
    fi
    ;;
*)
    echo "wine-run: $exe is not a Windows program" >&2
    exit 1
    ;;
esac

unset DISPLAY WAYLAND_DISPLAY WINELOADER WINEARCH WINEPREFIX
# Handed to the Wine commands only, so that this script and its helpers never count as processes
# of the prefix. No Mono or Gecko: nothing here needs them, and their installers would ask. The
# prefix links the user's folders (Desktop, Documents...) into the home folder: a home of its own
# keeps whatever a test writes there inside the build.
home=$prefix-home
in_prefix=(env WINEPREFIX="$prefix" HOME="$home" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=")

mkdir -p "$(dirname "$prefix")" "$home"
# One run at a time per prefix: stopping the Wine processes of one run must not hit another's.
exec 9>"$prefix.lock"
flock 9

# Processes, of any kind, started for this prefix.
prefix_processes() {
    grep -lsxzF "WINEPREFIX=$prefix" /proc/[0-9]*/environ 2>/dev/null |
        sed 's|/proc/\([0-9]*\)/environ|\1|' || true
}
# wineserver -k returns before its clients are gone: wait for them, a bounded time.
stop_wine() {
    "${in_prefix[@]}" "$wineserver" -k >/dev/null 2>&1 || true
    local i left
    for i in $(seq 100); do
        left=$(prefix_processes)
        [ -z "$left" ] && return 0
        sleep 0.1
    done
    kill -9 $left 2>/dev/null || true
}
# Left over by a run that was killed.
stop_wine

if [ ! -f "$prefix/.felto-ready" ]; then
    started=$(date +%s)
    rm -rf "$prefix"
    # A 64-bit prefix runs both kinds of program where the host can; made quietly, without a
    # display and without standard input.
    boot=$wine64
    runnable "$boot" || boot=$wine32
    if ! "${in_prefix[@]}" "$boot" wineboot -i </dev/null >/dev/null 2>&1; then
        echo "wine-run: wineboot failed for $prefix" >&2
        stop_wine
        exit 1
    fi
    # The registry is written when the server ends.
    timeout 120 "${in_prefix[@]}" "$wineserver" -w >/dev/null 2>&1 || true
    touch "$prefix/.felto-ready"
    echo "wine-run: made the Wine prefix $prefix in $(($(date +%s) - started)) s" >&2
fi

trap stop_wine EXIT
trap 'exit 143' TERM INT
"${in_prefix[@]}" "$loader" "$exe" "$@"
status=$?
exit $status
