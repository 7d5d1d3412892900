#!/usr/bin/env bash
# Starts the crawler, presses Start Crawl, times the crawl from the key press to the end of
# the progress window, and writes the figures as shell assignments into OUT.
#   scripts/bench_drive.sh PROGRAM OUT
set -uo pipefail
PROGRAM=$1
OUT=$2
"$PROGRAM" &
APP=$!
for _ in $(seq 600); do xdotool search --name "^Patchmere Crawler$" >/dev/null 2>&1 && break; sleep 0.05; done
sleep 0.3
MAIN=$(xdotool search --name "^Patchmere Crawler$" | head -n 1)
xdotool windowactivate --sync "$MAIN" 2>/dev/null || xdotool windowfocus --sync "$MAIN"
# PM_PERF=FILE records a CPU profile of the crawl itself with perf.
if [ -n "${PM_PERF:-}" ]; then
  perf record -F 2000 -e cpu-clock -g -p $APP -o "$PM_PERF" >/dev/null 2>&1 &
  PERF=$!
  sleep 0.5
fi
TICKS=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$APP/stat"; }
CPU_BEFORE=$(cpu_ticks)
START=$(date +%s.%N)
xdotool key --window "$MAIN" Return
# The progress window exists for exactly as long as the crawl runs. Its end is awaited by
# one idle client (xprop exits when the window is destroyed) rather than by polling, which
# would take CPU from the crawl on a small machine.
PROGRESS=
# Long enough for a loaded machine: a window missed here ends the measurement at once.
for _ in $(seq 4000); do
  PROGRESS=$(xdotool search --name "^Crawling Patchmere library" 2>/dev/null | head -n 1) && [ -n "$PROGRESS" ] && break
  sleep 0.005
done
[ -n "$PROGRESS" ] && xprop -spy -id "$PROGRESS" >/dev/null 2>&1
END=$(date +%s.%N)
[ -n "${PM_PERF:-}" ] && { kill -INT $PERF; wait $PERF; }
CPU_AFTER=$(cpu_ticks)
PEAK=$(awk '/VmHWM/ {print $2}' "/proc/$APP/status")
{
  echo "CRAWL_SECONDS=$(echo "$END - $START" | bc)"
  echo "CPU_SECONDS=$(echo "($CPU_AFTER - $CPU_BEFORE) / $TICKS" | bc -l)"
  echo "PEAK_KB=$PEAK"
} >"$OUT"
xdotool key --window "$MAIN" Escape
for _ in $(seq 100); do kill -0 $APP 2>/dev/null || break; sleep 0.05; done
kill $APP 2>/dev/null || true
