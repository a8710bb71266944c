#!/usr/bin/env bash
# Builds the download benchmark in its own build folder and runs it once.
# Usage: bench/run_download_bench.sh [work folder] [rounds] [size in MiB]
# Needs nginx, curl and aria2c, and about 2.5 GiB free in the work folder (default: under /tmp);
# the folder is removed afterwards.
set -euo pipefail
. "$(dirname "$0")/build_bench.sh"
run_bench_program download_bench "$@"
