#!/usr/bin/env bash
# Measures a real crawl through the real windows against a generated local library, then
# GNU Wget harvesting the same library, and prints both with their ratio.
#   scripts/benchmark.sh [PAGES] [TONES_PER_PAGE]      (default 200 × 20, tones 2–60 KB)
set -euo pipefail
cd "$(dirname "$0")/.."
PAGES=${1:-200}
TONES=${2:-20}
bash scripts/setup.sh
command -v wget >/dev/null || { apt-get update -qq && apt-get install -y -qq wget >/dev/null; }
BUILD=build-bench
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DPM_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target pmcrawler pmdemo-server -j"$(nproc)" >/dev/null

WORK=$(realpath "$BUILD")/bench
rm -rf "$WORK"
mkdir -p "$WORK"
export XDG_CONFIG_HOME="$WORK/config"
mkdir -p "$XDG_CONFIG_HOME/Patchmere Crawler"
ln -sf "$(realpath "$BUILD")/app/pmcrawler" "$WORK/pmcrawler-bench"

"$BUILD/tools/pmdemo-server" --pages "$PAGES" --tones-per-page "$TONES" --min-size 2000 \
  --max-size 60000 --expect "$WORK/expected.txt" >"$WORK/server.out" &
SERVER=$!
trap 'kill $SERVER 2>/dev/null || true' EXIT
for _ in $(seq 200); do [ -s "$WORK/server.out" ] && break; sleep 0.05; done
URL=$(head -n 1 "$WORK/server.out")
printf '[Config]\nLastURL=%s\nLastPath=%s\n' "$URL" "$WORK/tones" \
  >"$XDG_CONFIG_HOME/Patchmere Crawler/pmcrawler-bench.conf"

echo "Library: $PAGES pages × $TONES tones at $URL"
if [ -n "${DISPLAY:-}" ]; then
  bash scripts/bench_drive.sh "$WORK/pmcrawler-bench" "$WORK/crawl.txt"
else
  xvfb-run -a -s "-screen 0 1024x768x24" bash scripts/bench_drive.sh "$WORK/pmcrawler-bench" \
    "$WORK/crawl.txt"
fi
source "$WORK/crawl.txt" # CRAWL_SECONDS CPU_SECONDS PEAK_KB

STORED=$(find "$WORK/tones" -type f | wc -l)
EXPECTED=$(wc -l <"$WORK/expected.txt")
if diff <(cd "$WORK/tones" && ls -1 | LC_ALL=C sort) <(LC_ALL=C sort "$WORK/expected.txt") >/dev/null; then
  CHECK="all $EXPECTED distinct tones stored once, under their names"
else
  CHECK="MISMATCH: $STORED files stored, $EXPECTED expected"
fi
MB=$(du -sm "$WORK/tones" | cut -f1)

START=$(date +%s.%N)
wget -q -r -l inf -nd -np --content-disposition --accept-regex '(library\.html|l6file)' \
  -P "$WORK/wget" "$URL" || true
END=$(date +%s.%N)
WGET_SECONDS=$(echo "$END - $START" | bc)
WGET_FILES=$(find "$WORK/wget" -type f | wc -l)

TONES_TOTAL=$((PAGES * TONES))
printf '\nCrawler: %.2f s wall, %.0f tones/s, %.2f s CPU, peak memory %d MB (%s; %d MB)\n' \
  "$CRAWL_SECONDS" "$(echo "$TONES_TOTAL / $CRAWL_SECONDS" | bc -l)" "$CPU_SECONDS" \
  "$((PEAK_KB / 1024))" "$CHECK" "$MB"
printf 'Wget:    %.2f s wall (%d files)\n' "$WGET_SECONDS" "$WGET_FILES"
printf 'Ratio crawler / wget: %.2f\n' "$(echo "$CRAWL_SECONDS / $WGET_SECONDS" | bc -l)"
