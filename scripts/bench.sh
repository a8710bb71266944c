#!/usr/bin/env bash
# Runs every benchmark against its reference in the same run (download engine vs curl and
# aria2c, MD5 and verification vs md5sum, fresh installs and a repair vs aria2c, curl and wget,
# a server check through haproxy vs direct) and writes a Markdown table of ratios and a PNG chart.
# Fresh installs over a real round trip (0, 20 and 100 ms), with the lean transfer build beside the
# default one, come last, in a table of their own (bench/run_lean_bench.sh).
# Usage: scripts/bench.sh [--quick] [output folder]   (default: build/bench-report)
#   --quick: one round of the round-trip installs, without the slowest clients at 100 ms.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

quick=""
if [ "${1:-}" = --quick ]; then
  quick=--quick
  shift
fi
out="${1:-build/bench-report}"
mkdir -p "$out"
build=build/bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFELTO_BUILD_BENCH=ON \
  -DFELTO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target download_bench md5_bench chunk_bench FeltoInstaller \
  felto-publish latency_holder >/dev/null
# The same installer with the fastest pace a studio can choose.
fast=build/bench-fast
cmake -S . -B "$fast" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFELTO_BUILD_TESTS=OFF \
  -DFELTO_DOWNLOAD_PAUSE_MS=0 -DFELTO_COPY_PAUSE_MS=0 -DFELTO_PARALLEL_DOWNLOADS=8 >/dev/null
cmake --build "$fast" -j"$(nproc)" --target FeltoInstaller felto-publish >/dev/null
# And the same pace with the lean transfer.
lean=build/bench-lean
cmake -S . -B "$lean" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFELTO_BUILD_TESTS=OFF \
  -DFELTO_DOWNLOAD_PAUSE_MS=0 -DFELTO_COPY_PAUSE_MS=0 -DFELTO_PARALLEL_DOWNLOADS=8 \
  -DFELTO_LEAN_TRANSFER=ON --no-warn-unused-cli >/dev/null
cmake --build "$lean" -j"$(nproc)" --target FeltoInstaller >/dev/null
# And the same pace with chunked updates over the lean transfer.
chunked=build/bench-chunked
cmake -S . -B "$chunked" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFELTO_BUILD_TESTS=OFF \
  -DFELTO_DOWNLOAD_PAUSE_MS=0 -DFELTO_COPY_PAUSE_MS=0 -DFELTO_PARALLEL_DOWNLOADS=8 \
  -DFELTO_LEAN_TRANSFER=ON -DFELTO_CHUNKED_UPDATES=ON >/dev/null
cmake --build "$chunked" -j"$(nproc)" --target FeltoInstaller felto-publish >/dev/null

echo "== download engine (512 MiB from nginx on loopback)"
# The median of several rounds: a shared machine makes single transfers vary a lot.
"$build/bench/download_bench" "" 7 2>/dev/null | tee "$out/download.txt"
echo "== MD5 and verification"
"$build/bench/md5_bench" 2>/dev/null | tee "$out/md5.txt"
echo "== finding the reusable chunks of an installed file"
"$build/bench/chunk_bench" "" 3 2>/dev/null | tee "$out/chunk.txt"
echo "== an update by chunks and by the whole object (256 MiB file, 20 ms round trip)"
bench/run_chunk_update_bench.sh "$out" "$lean" "$chunked" "$build/bench/latency_holder" 256
echo "== the same updates with a player's 100 Mbit/s"
FELTO_BENCH_RATE=100mbit \
  bench/run_chunk_update_bench.sh "$out" "$lean" "$chunked" "$build/bench/latency_holder" 256
echo "== fresh installs and a repair (median of 3 rounds; the default pace of case a takes ~20 min)"
bench/run_install_bench.sh "$out" "$build" "$fast" 3
echo "== fresh installs over a round trip of 0, 20 and 100 ms, default and lean transfer"
bench/run_lean_bench.sh $quick "$out" "$fast" "$lean" "$build/bench/latency_holder"

field() { grep -m1 "$1" "$2" | sed -E "s|.*$1[^0-9]*([0-9.]+).*|\\1|"; }
curl_ratio=$(field 'felto / curl' "$out/download.txt")
aria_ratio=$(field 'felto / aria2c' "$out/download.txt")
rss=$(field 'peak RSS' "$out/download.txt")
md5_ratio=$(grep -m1 'FileMd5 of one' "$out/md5.txt" | sed -E 's/.*ratio ([0-9.]+).*/\1/')
verify_ratio=$(grep -m1 'verify 1,000 files' "$out/md5.txt" | sed -E 's/.*ratio ([0-9.]+).*/\1/')
# Median seconds (or peak KiB) of one install bench line.
secs() { grep -m1 -F "$1" "$out/install.txt" | awk '{print $(NF-3)}'; }
kib() { grep -m1 -F "$1" "$out/install.txt" | awk '{print $(NF-1)}'; }
ratio() { awk "BEGIN{printf \"%.2f\", $1/$2}"; }
install_rows=""
for c in a b c; do
  fast_s=$(secs "$c: installer, pause 0, 8 parallel")
  install_rows+="| ($c) fresh install: default pace / pause 0, 8 parallel / aria2c / curl --parallel / wget (s) | $(secs "$c: installer, default pace") / $fast_s / $(secs "$c: aria2c") / $(secs "$c: curl") / $(secs "$c: wget") | $([ $c != c ] || echo "pause 0, 8 parallel under 1 s") |
"
  [ $c = c ] || install_rows+="| ($c) pause 0, 8 parallel: our time / aria2c's | $(ratio "$fast_s" "$(secs "$c: aria2c")") | at most 2 |
| ($c) pause 0, 8 parallel: our time / wget's | $(ratio "$fast_s" "$(secs "$c: wget")") | at most 3 |
"
done
repair_fast=$(secs "repair 200 MB: installer, pause 0")
repair_ref=$(secs "repair 200 MB: curl + cp")
check_ratio=$(ratio "$(secs "felto-publish check, haproxy")" "$(secs "felto-publish check, direct")")
chunk_ratio=$(grep -m1 'cut and digest' "$out/chunk.txt" | sed -E 's/.*ratio ([0-9.]+).*/\1/')
# Bytes sent as % of the file, and the update's seconds, of one chunk update bench line.
chunk_share() { awk -F '\t' -v c="$1" -v k="$2" '$1 == c && $2 == k {printf "%.2f", 100 * $4 / $3}' "$out/chunk-update.txt"; }
chunk_secs() { awk -F '\t' -v c="$1" -v k="$2" '$1 == c && $2 == k {print $5}' "$out/chunk-update$3.txt"; }
parallel_rss=$(awk '/8 parallel/ {if ($(NF-1) > m) m = $(NF-1)} END {printf "%.1f", m/1024}' "$out/install.txt")

cat > "$out/report.md" <<MD
| benchmark | measured | goal |
|---|---|---|
| download 512 MiB, our time / curl's | $curl_ratio | at most 1.25 |
| download 512 MiB, our time / aria2c -x3's | $aria_ratio | below 1 |
| download peak resident memory (MiB) | $rss | under 16 |
| FileMd5 512 MiB, our speed / md5sum's | $md5_ratio | at least 0.95 |
| verify 1,000 files (1 GiB), our speed / md5sum -c's | $verify_ratio | at least 0.95 |
$install_rows| repair of one 200 MB file: default pace / pause 0 / curl + cp (s) | $(secs "repair 200 MB: installer, default") / $repair_fast / $repair_ref | |
| felto-publish check through haproxy / direct | $check_ratio | at most 1.2 |
| install with 8 parallel downloads, peak resident memory (MiB) | $parallel_rss | under 16 |
| cutting an installed file into chunks, our speed / md5sum's | $chunk_ratio | at least 0.8 |
| (a) ten 4 KiB changes in 256 MiB: bytes sent by chunks / whole object (% of the file) | $(chunk_share a chunked) / $(chunk_share a whole) | at most 5 by chunks |
| (b) 1 KiB inserted at 10 % of 256 MiB: bytes sent by chunks / whole object (% of the file) | $(chunk_share b chunked) / $(chunk_share b whole) | at most 5 by chunks |
| (c) the file moved: bytes sent by chunks / whole object (% of the file) | $(chunk_share c chunked) / $(chunk_share c whole) | at most 1 by chunks |
$(for c in a b c; do echo "| ($c) update at 20 ms round trip, by chunks / whole object (time; loopback's bandwidth / 100 Mbit/s) | $(ratio "$(chunk_secs $c chunked)" "$(chunk_secs $c whole)") / $(ratio "$(chunk_secs $c chunked -100mbit)" "$(chunk_secs $c whole -100mbit)") | at most 0.2 |"; done)

Fresh installs over a round trip (asked, and measured as TCP connect time), pause 0 and 8
parallel downloads, against the reference clients in the same case:

$(cat "$out/lean.md")
MD

# Every bar is "better when above 1": speeds relative to the reference tool.
cat > "$out/ratios.dat" <<DAT
"download vs curl" $(awk "BEGIN{print 1/$curl_ratio}")
"download vs aria2c" $(awk "BEGIN{print 1/$aria_ratio}")
"MD5 vs md5sum" $md5_ratio
"verify vs md5sum -c" $verify_ratio
"(a) install vs aria2c" $(ratio "$(secs "a: aria2c")" "$(secs "a: installer, pause 0")")
"(b) install vs aria2c" $(ratio "$(secs "b: aria2c")" "$(secs "b: installer, pause 0")")
"(a) install vs wget" $(ratio "$(secs "a: wget")" "$(secs "a: installer, pause 0")")
"(b) install vs wget" $(ratio "$(secs "b: wget")" "$(secs "b: installer, pause 0")")
"repair vs curl+cp" $(ratio "$repair_ref" "$repair_fast")
"check direct vs haproxy" $(ratio "$(secs "felto-publish check, direct")" "$(secs "felto-publish check, haproxy")")
DAT
gnuplot <<GP
set terminal pngcairo size 1100,450
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
