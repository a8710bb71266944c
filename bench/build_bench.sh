# shellcheck shell=bash
# Sourced by the benchmark runners: builds one benchmark program in its own build folder
# (BUILD_DIR, default build/bench) and runs it once with the runner's arguments.
# Usage: run_bench_program NAME [ARGUMENT]...
run_bench_program() {
  local name=$1 source_dir build_dir
  shift
  source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
  build_dir="${BUILD_DIR:-$source_dir/build/bench}"
  cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DFELTO_BUILD_BENCH=ON -DFELTO_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build_dir" --target "$name" -j2
  "$build_dir/bench/$name" "$@"
}
