#!/usr/bin/env bash
# Builds the download benchmark in its own build folder and runs it once.
# Usage: bench/run_download_bench.sh [work folder] [rounds] [size in MiB]
# Needs nginx, curl and aria2c, and about 2.5 GiB free in the work folder (default: under /tmp);
# the folder is removed afterwards.
set -euo pipefail

source_dir="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$source_dir/build/bench}"

cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DFELTO_BUILD_BENCH=ON -DFELTO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir" --target download_bench -j2
"$build_dir/bench/download_bench" "$@"
