#!/usr/bin/env bash
# Runs every benchmark, Vellmir beside its reference in the same run, and
# prints a report (also kept in build/bench/report.txt). Timings are never
# asserted: these figures are for reading.
#   bench/run.sh            everything
#   bench/run.sh core       only what needs no display (F2 walk, poller ticks)
#   bench/run.sh flash      only Flash content: first frame, the cost of a movie
#                           playing under each renderer, memory (not part of "all")
#   bench/run.sh soak       ten minutes of F1 every 200 ms and F2 every 10 s
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=build/bench
what=${1:-all}

cmake -S bench -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$out" -j 2 >/dev/null

report=$out/report.txt
exec > >(tee "$report") 2>&1

echo "# Vellmir benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC'), commit $(git rev-parse --short HEAD 2>/dev/null || echo '?')"
echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), $(nproc) cores," \
     "$(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo)," \
     "$(. /etc/os-release; echo "$PRETTY_NAME"), kernel $(uname -r)," \
     "$(df -T /tmp | awk 'NR==2 {print $2}') /tmp"
echo

if [ "$what" = flash ]; then
  echo "## Flash content through the bundled emulator"
  # As built (the renderer the program picks) beside the page asking for each
  # of the emulator's renderers: wgpu-webgl is the emulator's own choice here.
  python3 bench/flash_emulator_bench.py --runs "${BENCH_RUNS:-5}" --shots "$out/flash-shots" \
    built="$out/vellmir" wgpu-webgl="$out/vellmir,renderer=wgpu-webgl" \
    webgl="$out/vellmir,renderer=webgl" canvas="$out/vellmir,renderer=canvas"
  exit 0
fi
if [ "$what" = soak ]; then
  python3 bench/soak.py "$out/vellmir" --minutes "${BENCH_SOAK_MINUTES:-10}"
  exit 0
fi

echo "## F2: folder walk vs find"
"$out/delete_files_bench" --files "${BENCH_F2_FILES:-100000}" --runs "${BENCH_RUNS:-5}"
echo

echo "## poll_hotkeys: instructions per tick (callgrind, fake snapshot)"
ticks=10000
for n in 2 16 64 256; do
  cg=$(mktemp)
  valgrind --tool=callgrind --callgrind-out-file="$cg" --toggle-collect='poll_hotkeys*' \
    "$out/poll_tick_bench" "$n" "$ticks" >/dev/null 2>&1
  total=$(callgrind_annotate "$cg" 2>/dev/null | awk '/PROGRAM TOTALS/ {gsub(",", "", $1); print $1}')
  snap=$(callgrind_annotate --threshold=100 "$cg" 2>/dev/null | awk '/take_key_snapshot/ {gsub(",", "", $1); print $1}')
  printf '%4d entries: %6.1f instructions per tick (of which the fake snapshot %.1f)\n' \
    "$n" "$(echo "$total / $ticks" | bc -l)" "$(echo "${snap:-0} / $ticks" | bc -l)"
  rm -f "$cg"
done
echo

if [ "$what" = all ]; then
  if [ -x "$out/vellmir" ] && [ -x "$out/reference_browser" ]; then
    python3 bench/e2e_bench.py --vellmir "$out/vellmir" --reference "$out/reference_browser" \
      --probe "$out/libtick_probe.so" --runs "${BENCH_RUNS:-5}" --idle "${BENCH_IDLE:-30}" \
      --presses "${BENCH_PRESSES:-120}" --f2-files "${BENCH_F2_FILES:-100000}"
  else
    echo "## program benchmarks skipped: $out/vellmir or the reference is not built"
  fi
fi
