#!/usr/bin/env bash
# Builds the native program and its tests with AddressSanitizer and UndefinedBehaviorSanitizer
# (build/asan) and with ThreadSanitizer (build/tsan), and runs the native suite in each. The
# end-to-end tests start the installer of the same build, so it runs sanitized too.
# Usage: scripts/sanitize.sh [address|thread ...]   (both when none is named)
set -euo pipefail
cd "$(dirname "$0")/.."
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(address thread)
scripts/install-deps.sh

jobs=$(nproc)
prefix=${FELTO_SANITIZE_BUILD_PREFIX:-build/}
# Any report ends the process that made it with status 66: a test program then fails its test,
# and an installer a test started fails that test too (tests/support checks its output as well).
export ASAN_OPTIONS=halt_on_error=1:exitcode=66:detect_leaks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:exitcode=66
export TSAN_OPTIONS=halt_on_error=1:exitcode=66:second_deadlock_stack=1
# The Windows program is not built with sanitizers, so the Wine tests would only check the test
# harness again; without this variable they skip.
unset FELTO_WIN_BUILD_DIR

status=0
for kind in "${kinds[@]}"; do
  case "$kind" in
    address) dir=${prefix}asan ;;
    thread) dir=${prefix}tsan ;;
    *) echo "unknown sanitizer: $kind" >&2; exit 2 ;;
  esac
  echo "== $kind sanitizer: $dir"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFELTO_SANITIZE="$kind" \
    -DFELTO_SERVER_URL=http://127.0.0.1 >/dev/null
  cmake --build "$dir" -j"$jobs"
  # The suite waits on servers and on the installers it starts far more than it computes: twice
  # as many tests as cores keep the machine busy.
  ctest --test-dir "$dir" --output-on-failure -j"$((2 * jobs))" || status=1
done
exit $status
