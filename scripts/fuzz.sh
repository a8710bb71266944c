#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang, AddressSanitizer, UndefinedBehaviorSanitizer) in
# build/fuzz and runs each for N seconds (default 60, one target per core at a time), starting
# from its seed corpus in fuzz/corpus/<target>/. Usage: scripts/fuzz.sh [seconds] [target...]
# A finding fails the script and leaves its input in build/fuzz/artifacts/. Fix the fault, then
# add the input to fuzz/corpus/<target>/ so every later run checks it again.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_url fuzz_http_header fuzz_manifest fuzz_md5)
scripts/install-deps.sh

build=${FELTO_FUZZ_BUILD_DIR:-build/fuzz}
cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFELTO_BUILD_FUZZ=ON -DFELTO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

mkdir -p "$build/artifacts"
run_target() {
  local target=$1 scratch status=0
  # New inputs go to the build folder; the seeds in the repository stay as they are.
  local work="$build/corpus/$target" extra=()
  # Response heads are read up to 16 KiB: inputs must reach past that.
  [ "$target" = fuzz_http_header ] && extra=(-max_len=20000)
  mkdir -p "$work"
  # Scratch files are written on every input: in memory when the machine has a tmpfs for it.
  scratch=$(mktemp -d "$( [ -d /dev/shm ] && echo /dev/shm || echo /tmp )/felto-$target-XXXXXX")
  # -close_fd_mask=2: the installer copies every log line to standard error; the fuzzer's own
  # output and sanitizer reports still come through.
  TMPDIR="$scratch" "$build/fuzz/$target" -max_total_time="$seconds" -close_fd_mask=2 \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "${extra[@]}" \
    -artifact_prefix="$build/artifacts/$target-" "$work" "fuzz/corpus/$target" \
    >"$build/$target.log" 2>&1 || status=$?
  rm -rf "$scratch"
  echo "$status" >"$build/$target.status"
}

# One target per core at a time.
jobs=$(nproc)
running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
  echo "fuzzing $target for ${seconds}s"
  run_target "$target" &
  running=$((running + 1))
done
wait

failed=0
for target in "${targets[@]}"; do
  echo "== $target"
  # The progress lines are many; the summary and any report are what matter.
  grep -vE '^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse|INITED|RELOAD)|^INFO:|^"|# Uses:' \
    "$build/$target.log" | tail -n 40
  if [ "$(cat "$build/$target.status")" -ne 0 ]; then
    echo "$target: finding; the input is in $build/artifacts/" >&2
    failed=1
  fi
done
[ "$failed" -eq 0 ] && echo "fuzzing: no findings"
exit "$failed"
