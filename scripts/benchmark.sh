#!/usr/bin/env bash
# Measures a real crawl through the real windows against a generated local library, and GNU
# Wget harvesting the same library, in alternating rounds; prints every round and the
# medians with their ratio.
#   scripts/benchmark.sh [PAGES] [TONES_PER_PAGE] [ROUNDS]   (default 200 × 20, 3 rounds)
# Each round writes into fresh folders and nothing is deleted until the end: on file systems
# that avoid reusing recently freed inodes, deleting thousands of files just before a round
# slows whoever creates files next. The order alternates so neither client always goes first.
set -euo pipefail
cd "$(dirname "$0")/.."
PAGES=${1:-200}
TONES=${2:-20}
ROUNDS=${3:-3}
bash scripts/setup.sh
command -v wget >/dev/null || { apt-get update -qq && apt-get install -y -qq wget >/dev/null; }
BUILD=build-bench
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DPM_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target pmcrawler pmdemo-server -j"$(nproc)" >/dev/null

WORK=$(realpath "$BUILD")/bench
rm -rf "$WORK"
mkdir -p "$WORK"
ln -sf "$(realpath "$BUILD")/app/pmcrawler" "$WORK/pmcrawler-bench"

"$BUILD/tools/pmdemo-server" --pages "$PAGES" --tones-per-page "$TONES" --min-size 2000 \
  --max-size 60000 --expect "$WORK/expected.txt" >"$WORK/server.out" &
SERVER=$!
trap 'kill $SERVER 2>/dev/null || true; rm -rf "$WORK"/round-*' EXIT
for _ in $(seq 200); do [ -s "$WORK/server.out" ] && break; sleep 0.05; done
URL=$(head -n 1 "$WORK/server.out")
EXPECTED=$(wc -l <"$WORK/expected.txt")
TONES_TOTAL=$((PAGES * TONES))

# crawl ROUND_DIR: the crawler harvests into ROUND_DIR/tones, its cache beside it.
crawl() {
  local dir=$1
  mkdir -p "$dir/config/Patchmere Crawler" "$dir/tmp"
  printf '[Config]\nLastURL=%s\nLastPath=%s\n' "$URL" "$dir/tones" \
    >"$dir/config/Patchmere Crawler/pmcrawler-bench.conf"
  local drive=(bash scripts/bench_drive.sh "$WORK/pmcrawler-bench" "$dir/crawl.txt")
  if [ -n "${DISPLAY:-}" ]; then
    XDG_CONFIG_HOME="$dir/config" TMPDIR="$dir/tmp" "${drive[@]}"
  else
    XDG_CONFIG_HOME="$dir/config" TMPDIR="$dir/tmp" \
      xvfb-run -a -s "-screen 0 1024x768x24" "${drive[@]}"
  fi
  if diff <(cd "$dir/tones" && ls -1 | LC_ALL=C sort) <(LC_ALL=C sort "$WORK/expected.txt") \
    >/dev/null; then
    echo "CHECK='all $EXPECTED distinct tones stored once, under their names'" >>"$dir/crawl.txt"
  else
    echo "CHECK='MISMATCH: $(find "$dir/tones" -type f | wc -l) files stored, $EXPECTED expected'" \
      >>"$dir/crawl.txt"
  fi
}

# harvest ROUND_DIR: Wget fetches the library pages and tone links into ROUND_DIR/wget.
harvest() {
  local dir=$1 timing
  timing=$({
    TIMEFORMAT='%R %U %S'
    time wget -q -r -l inf -nd -np --content-disposition \
      --accept-regex '(library\.html|l6file)' -P "$dir/wget" "$URL" || true
  } 2>&1)
  read -r WALL USER SYS <<<"$timing"
  echo "WGET_SECONDS=$WALL WGET_CPU=$(echo "$USER + $SYS" | bc)" >"$dir/wget.txt"
  echo "WGET_FILES=$(find "$dir/wget" -type f | wc -l)" >>"$dir/wget.txt"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "Library: $PAGES pages × $TONES tones at $URL, $ROUNDS rounds"
: >"$WORK/rounds.txt"
for round in $(seq "$ROUNDS"); do
  dir="$WORK/round-$round"
  mkdir -p "$dir"
  if [ $((round % 2)) -eq 1 ]; then crawl "$dir"; harvest "$dir"; else harvest "$dir"; crawl "$dir"; fi
  # shellcheck disable=SC1091
  source "$dir/crawl.txt"  # CRAWL_SECONDS CPU_SECONDS PEAK_KB CHECK
  source "$dir/wget.txt"   # WGET_SECONDS WGET_CPU WGET_FILES
  printf 'Round %d: crawler %.2f s wall, %.2f s CPU, %d MB peak (%s); wget %.2f s wall, %.2f s CPU (%d files)\n' \
    "$round" "$CRAWL_SECONDS" "$CPU_SECONDS" "$((PEAK_KB / 1024))" "$CHECK" "$WGET_SECONDS" \
    "$WGET_CPU" "$WGET_FILES"
  echo "$CRAWL_SECONDS $CPU_SECONDS $PEAK_KB $WGET_SECONDS $WGET_CPU" >>"$WORK/rounds.txt"
done

CRAWL=$(cut -d' ' -f1 "$WORK/rounds.txt" | median)
CPU=$(cut -d' ' -f2 "$WORK/rounds.txt" | median)
PEAK=$(cut -d' ' -f3 "$WORK/rounds.txt" | median)
WGET=$(cut -d' ' -f4 "$WORK/rounds.txt" | median)
WGET_CPU=$(cut -d' ' -f5 "$WORK/rounds.txt" | median)
MB=$(du -sm "$WORK/round-1/tones" | cut -f1)
printf '\nMedians over %d rounds (%d tones, %d MB stored):\n' "$ROUNDS" "$TONES_TOTAL" "$MB"
printf 'Crawler: %.2f s wall, %.0f tones/s, %.2f s CPU, peak memory %.0f MB\n' "$CRAWL" \
  "$(echo "$TONES_TOTAL / $CRAWL" | bc -l)" "$CPU" "$(echo "$PEAK / 1024" | bc -l)"
printf 'Wget:    %.2f s wall, %.2f s CPU\n' "$WGET" "$WGET_CPU"
printf 'Ratio crawler / wget: %.2f\n' "$(echo "$CRAWL / $WGET" | bc -l)"
