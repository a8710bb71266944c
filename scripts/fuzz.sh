#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang, AddressSanitizer, UndefinedBehaviorSanitizer) in
# build/fuzz and runs each for N seconds (default 60), starting from its seed corpus in
# fuzz/corpus/<target>/. Usage: scripts/fuzz.sh [seconds] [target...]
# A finding stops the script; the input is in build/fuzz/artifacts/. Fix the fault, then add the
# input to fuzz/corpus/<target>/ so every later run checks it again.
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
for target in "${targets[@]}"; do
  # New inputs go to the build folder; the seeds in the repository stay as they are.
  work="$build/corpus/$target"
  # Scratch files are written on every input: in memory when the machine has a tmpfs for it.
  scratch=$(mktemp -d "$( [ -d /dev/shm ] && echo /dev/shm || echo /tmp )/felto-$target-XXXXXX")
  mkdir -p "$work"
  echo "== $target: ${seconds}s"
  # -close_fd_mask=2: the installer copies every log line to standard error; the fuzzer's own
  # output and sanitizer reports still come through.
  status=0
  TMPDIR="$scratch" "$build/fuzz/$target" -max_total_time="$seconds" -close_fd_mask=2 \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$target-" "$work" "fuzz/corpus/$target" \
    >"$build/$target.log" 2>&1 || status=$?
  # The progress lines are many; the summary and any report are what matter.
  grep -vE '^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse|INITED|RELOAD)' "$build/$target.log" | tail -n 40
  rm -rf "$scratch"
  if [ "$status" -ne 0 ]; then
    echo "$target: finding (status $status); see $build/artifacts/" >&2
    exit 1
  fi
done
echo "fuzzing: no findings"
