#!/usr/bin/env bash
# Builds the native and the Windows program and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# Layering: the engine (support/, net/, manifest/) and the studio's tools never reach up into the
# installer's process (app/).
if grep -rnE '#include +"app/' support net manifest tools; then
  echo "support/, net/, manifest/ and tools/ must not include app/ headers" >&2
  exit 1
fi

# The mutation table: every fault it plants must still find its text, once, in the code.
scripts/mutants.sh --check

jobs=$(nproc)
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFELTO_SERVER_URL=http://127.0.0.1 >/dev/null
cmake --build build/native -j"$jobs"
# The cross builds leave their tests out unless asked: these run them under Wine.
cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
  -DFELTO_SERVER_URL=http://127.0.0.1 -DFELTO_BUILD_TESTS=ON >/dev/null
cmake --build build/win -j"$jobs"

# The Windows tests run under Wine. A machine that cannot run 32-bit programs (a kernel without
# 32-bit support has only the 64-bit Wine) runs them from a 64-bit build of the same sources.
win_tests=build/win
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "32-bit Wine cannot run here: the Windows tests use a 64-bit build (build/win64)"
  cmake -S . -B build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
    -DFELTO_SERVER_URL=http://127.0.0.1 -DFELTO_BUILD_TESTS=ON >/dev/null
  cmake --build build/win64 -j"$jobs"
  win_tests=build/win64
fi

export FELTO_WIN_BUILD_DIR="$PWD/$win_tests"
status=0
# The suite waits on servers, on Wine and on the installers it starts far more than it computes:
# twice as many tests as cores halve its time.
ctest --test-dir build/native --output-on-failure -j"$((2 * jobs))" || status=1
ctest --test-dir "$win_tests" --output-on-failure || status=1

# The lean transfer as a studio builds it (the installer itself built with FELTO_LEAN_TRANSFER at
# the fast pace), with chunked updates on as the build's own setting, which they need. The native
# suite already runs the lean engine tests and its fault rows (FeltoInstallerLean); here, end to
# end against nginx (which keeps connections and serves closed ranges), the installs that do not
# count the default build's probe requests or repair from the downloads that the lean build moves
# into place instead of copying; and the programs and tests that reach what chunked updates change:
# the installer's download pass and the clean-up of its folder.
cmake -S . -B build/lean -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFELTO_SERVER_URL=http://127.0.0.1 \
  -DFELTO_LEAN_TRANSFER=ON -DFELTO_CHUNKED_UPDATES=ON -DFELTO_DOWNLOAD_PAUSE_MS=0 \
  -DFELTO_COPY_PAUSE_MS=0 -DFELTO_PARALLEL_DOWNLOADS=8 >/dev/null
cmake --build build/lean -j"$jobs" \
  --target felto_e2e_tests felto-publish felto_manifest_tests felto_publish_tests
ctest --test-dir build/lean --output-on-failure -j"$jobs" \
  -R '^(InstallFixture\.|Verification|ChunkedUpdate|Faults/ChunkFaults|PublishedGame|Servers/InstallPublished\..*/nginx)' \
  -E '^InstallFixture\..*(OnlyOneFetched|NeverAsksForASignature|ResumesItsPartFiles|RepairsWhatWasDamaged)' ||
  status=1

# Hardening. The fault matrix ran with the native suite (tests/faults): its rows as one table.
# Then every fuzz target for a minute, and the native suite under AddressSanitizer with
# UndefinedBehaviorSanitizer and under ThreadSanitizer.
grep -h -m1 -E '^fault +\| program' build/native/Testing/Temporary/LastTest.log || true
grep -h -E '\| (ok|FAILED)$' build/native/Testing/Temporary/LastTest.log || true
scripts/fuzz.sh 60 || status=1
scripts/sanitize.sh address thread || status=1
exit $status
