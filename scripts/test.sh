#!/usr/bin/env bash
# Builds the native and the Windows program and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFELTO_SERVER_URL=http://127.0.0.1 >/dev/null
cmake --build build/native -j"$jobs"
cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
  -DFELTO_SERVER_URL=http://127.0.0.1 >/dev/null
cmake --build build/win -j"$jobs"

export FELTO_WIN_BUILD_DIR="$PWD/build/win"
status=0
ctest --test-dir build/native --output-on-failure -j"$jobs" || status=1
ctest --test-dir build/win --output-on-failure || status=1
exit $status
