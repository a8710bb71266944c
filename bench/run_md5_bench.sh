#!/usr/bin/env bash
# Builds the MD5 benchmark in its own build folder and runs it once.
# Usage: bench/run_md5_bench.sh [work folder] [rounds]
# Needs about 1.5 GiB free in the work folder (default: under /tmp); it is removed afterwards.
set -euo pipefail
. "$(dirname "$0")/build_bench.sh"
run_bench_program md5_bench "$@"
