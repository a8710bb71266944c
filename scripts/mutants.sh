#!/usr/bin/env bash
# Plants the small faults of scripts/mutants.table one at a time in a scratch copy of the
# sources, rebuilds it incrementally, runs the test programs and filters each fault names, and
# prints which test caught it or SURVIVED, the score and the run time. A fault whose source text
# is no longer found exactly once is reported STALE: mend its text in the table.
#
#   scripts/mutants.sh [NAME...]     all faults, or only the named ones
#   scripts/mutants.sh --check       only that every fault's text is found once (a second)
#
# The scratch copy and its build live in build/mutants; the working tree is never changed.
# Not part of CI's pass/fail: it rebuilds and runs tests once per fault (tens of minutes).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# Every row of the table has its file, and its `from` text is found exactly once there: a fault
# that can no longer be planted says so at once, not only when the whole check runs.
if [ "${1:-}" = "--check" ]; then
  python3 - "$root/scripts/mutants.table" <<'EOF'
import configparser, os, sys
table = configparser.ConfigParser(interpolation=None, delimiters=("=",))
table.optionxform = str
table.read(sys.argv[1], encoding="utf-8")
bad = []
for name in table.sections():
    s = table[name]
    missing = [key for key in ("what", "file", "from", "to", "test") if key not in s]
    if missing:
        bad.append("%s: no %s" % (name, ", ".join(missing)))
    elif not os.path.isfile(s["file"]):
        bad.append("%s: no file %s" % (name, s["file"]))
    else:
        found = open(s["file"], encoding="utf-8").read().count(s["from"].replace("\\n", "\n"))
        if found != 1:
            bad.append("%s: its text is found %d times in %s" % (name, found, s["file"]))
for line in bad:
    print("scripts/mutants.table: " + line, file=sys.stderr)
print("%d faults in scripts/mutants.table, %d stale" % (len(table.sections()), len(bad)))
sys.exit(1 if bad else 0)
EOF
  exit $?
fi
scratch=$root/build/mutants
jobs=${MUTANTS_JOBS:-2}
per_fault_limit=${MUTANTS_TIMEOUT:-900}
start=$(date +%s)

# The scratch copy: the tracked and new files of the working tree as they are now.
mkdir -p "$scratch/src"
# Only files whose bytes differ are copied, so that the scratch build stays incremental.
git ls-files -z --cached --others --exclude-standard | python3 -c '
import os, shutil, sys
for name in sys.stdin.buffer.read().decode().split("\0"):
    if not name or name.startswith("build/") or not os.path.isfile(name):
        continue
    target = os.path.join(sys.argv[1], name)
    if os.path.isfile(target) and open(name, "rb").read() == open(target, "rb").read():
        continue
    os.makedirs(os.path.dirname(target), exist_ok=True)
    shutil.copy2(name, target)
' "$scratch/src"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$scratch/src" -B "$scratch/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DFELTO_SERVER_URL=http://127.0.0.1 "${launcher[@]}" >/dev/null

# The table as one record per line: name, what, file, from, to, program, filter (tab-separated,
# \n left escaped).
records=$(python3 - "$root/scripts/mutants.table" "$@" <<'EOF'
import configparser, sys
table = configparser.ConfigParser(interpolation=None, delimiters=("=",))
table.optionxform = str
table.read(sys.argv[1], encoding="utf-8")
wanted = set(sys.argv[2:])
for name in table.sections():
    if wanted and name not in wanted:
        continue
    s = table[name]
    program, _, filt = s["test"].strip().partition(" ")
    print("\t".join([name, s["what"], s["file"], s["from"], s["to"], program, filt.strip() or "*"]))
EOF
)

# Replaces `from` by `to` in the file (both with \n escapes); exit 3 when `from` is not there
# exactly once.
plant() {
  python3 - "$@" <<'EOF'
import sys
path, old, new = sys.argv[1], sys.argv[2].replace("\\n", "\n"), sys.argv[3].replace("\\n", "\n")
text = open(path, encoding="utf-8").read()
if text.count(old) != 1:
    sys.exit(3)
open(path, "w", encoding="utf-8").write(text.replace(old, new))
EOF
}

programs=$(cut -f6 <<<"$records" | sort -u | tr '\n' ' ')
# shellcheck disable=SC2086
nice cmake --build "$scratch/build" -j"$jobs" --target FeltoInstaller FeltoInstallerTestKey \
  felto_spoil_source felto_without_uname $programs >/dev/null

results=()
caught=0
total=0
while IFS=$'\t' read -r name what file from to program filter; do
  [ -n "$name" ] || continue
  total=$((total + 1))
  target=$scratch/src/$file
  cp "$root/$file" "$target"
  fault_start=$(date +%s)
  if ! plant "$target" "$from" "$to"; then
    results+=("$name|STALE: the text is not found once in $file|$what|0")
    echo "== $name: STALE"
    continue
  fi
  echo "== $name: $what"
  outcome=""
  log=$scratch/$name.log
  # shellcheck disable=SC2086
  if ! nice cmake --build "$scratch/build" -j"$jobs" --target FeltoInstaller FeltoInstallerTestKey \
    $program >"$log" 2>&1; then
    outcome="BUILD FAILED (mend the table)"
  else
    status=0
    (cd "$scratch/build/tests" && timeout -k 10 "$per_fault_limit" \
      "./$program" --gtest_filter="$filter" >>"$log" 2>&1) || status=$?
    if [ "$status" -eq 0 ] && grep -q '^\[  PASSED  \] [1-9]' "$log"; then
      outcome="SURVIVED"
    elif [ "$status" -eq 0 ]; then
      outcome="NO TEST RAN (mend the filter)"
    else
      failed=$(grep -E '^\[  FAILED  \] [A-Za-z]' "$log" | awk '{sub(/,$/, "", $4); print $4}' |
        sort -u | awk 'NR <= 2 {printf "%s%s", (NR > 1 ? " " : ""), $0} END {if (NR > 2) printf " and %d more", NR - 2}')
      outcome="caught by ${failed:-$program (exit status $status)}"
      caught=$((caught + 1))
    fi
  fi
  cp "$root/$file" "$target"
  results+=("$name|$outcome|$what|$(($(date +%s) - fault_start))")
  echo "   $outcome"
done <<<"$records"

# The scratch copy is left as the working tree is, so the next run rebuilds only what changed.
nice cmake --build "$scratch/build" -j"$jobs" --target FeltoInstaller FeltoInstallerTestKey \
  >/dev/null 2>&1 || true

echo
printf '| %-30s | %-70s | %5s |\n' "fault" "result" "s"
printf '|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..32})" "$(printf -- '-%.0s' {1..72})" "-------"
for line in "${results[@]}"; do
  IFS='|' read -r name outcome what seconds <<<"$line"
  printf '| %-30s | %-70s | %5s |\n' "$name" "$outcome" "$seconds"
done
echo
echo "score: $caught of $total faults caught; run time $(($(date +%s) - start)) s"
[ "$caught" -eq "$total" ]
