#!/usr/bin/env bash
# Runs every benchmark against its reference in the same run (download engine vs curl and
# aria2c, MD5 and verification vs md5sum) and writes a Markdown table of ratios and a PNG chart.
# Usage: scripts/bench.sh [output folder]   (default: build/bench-report)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

out="${1:-build/bench-report}"
mkdir -p "$out"
build=build/bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFELTO_BUILD_BENCH=ON \
  -DFELTO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target download_bench md5_bench >/dev/null

echo "== download engine (512 MiB from nginx on loopback)"
# The median of several rounds: a shared machine makes single transfers vary a lot.
"$build/bench/download_bench" "" 7 2>/dev/null | tee "$out/download.txt"
echo "== MD5 and verification"
"$build/bench/md5_bench" 2>/dev/null | tee "$out/md5.txt"

field() { grep -m1 "$1" "$2" | sed -E "s|.*$1[^0-9]*([0-9.]+).*|\\1|"; }
curl_ratio=$(field 'felto / curl' "$out/download.txt")
aria_ratio=$(field 'felto / aria2c' "$out/download.txt")
rss=$(field 'peak RSS' "$out/download.txt")
md5_ratio=$(grep -m1 'FileMd5 of one' "$out/md5.txt" | sed -E 's/.*ratio ([0-9.]+).*/\1/')
verify_ratio=$(grep -m1 'verify 1,000 files' "$out/md5.txt" | sed -E 's/.*ratio ([0-9.]+).*/\1/')

cat > "$out/report.md" <<MD
| benchmark | measured | goal |
|---|---|---|
| download 512 MiB, our time / curl's | $curl_ratio | at most 1.25 |
| download 512 MiB, our time / aria2c -x3's | $aria_ratio | below 1 |
| download peak resident memory (MiB) | $rss | under 16 |
| FileMd5 512 MiB, our speed / md5sum's | $md5_ratio | at least 0.95 |
| verify 1,000 files (1 GiB), our speed / md5sum -c's | $verify_ratio | at least 0.95 |
MD

# Every bar is "better when above 1": speeds relative to the reference tool.
cat > "$out/ratios.dat" <<DAT
"download vs curl" $(awk "BEGIN{print 1/$curl_ratio}")
"download vs aria2c" $(awk "BEGIN{print 1/$aria_ratio}")
"MD5 vs md5sum" $md5_ratio
"verify vs md5sum -c" $verify_ratio
DAT
gnuplot <<GP
set terminal pngcairo size 800,450
set output "$out/report.png"
set title "FeltoInstaller speed relative to the reference tool (above 1 = faster)"
set style fill solid 0.6
set boxwidth 0.6
set yrange [0:*]
set grid ytics
unset key
plot "$out/ratios.dat" using 0:2:xtic(1) with boxes, 1 with lines lc rgb "red"
GP
echo
cat "$out/report.md"
echo "chart: $out/report.png"
