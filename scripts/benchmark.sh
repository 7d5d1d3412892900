#!/usr/bin/env bash
# Measures a real crawl through the real windows against a generated local library, and GNU
# Wget harvesting the same library, in alternating rounds; prints every round and the
# medians with their ratio.
#   scripts/benchmark.sh [PAGES] [TONES_PER_PAGE] [ROUNDS]   (default 200 × 20, 3 rounds)
#   scripts/benchmark.sh --full-pager [PAGES] [TONES_PER_PAGE] [ROUNDS]
#   scripts/benchmark.sh --series [ROUNDS]
# The full-pager library links every page number from every page and names every tone in a
# pmw_filename= query. The series runs it at 50, 200 and 800 pages of 20 tones and ends with a
# table of the three sizes, CPU time per anchor walked among them, so that a cost which grows
# with the size of the library shows.
# Each round writes into fresh folders and nothing is deleted until the end: on file systems
# that avoid reusing recently freed inodes, deleting thousands of files just before a round
# slows whoever creates files next. The order alternates so neither client always goes first.
set -euo pipefail
cd "$(dirname "$0")/.."
MODE=single
SHAPE=default
case "${1:-}" in
--series) MODE=series SHAPE=full-pager; shift ;;
--full-pager) SHAPE=full-pager; shift ;;
esac
if [ "$MODE" = series ]; then
  SIZES=(50 200 800)
  TONES=20
  ROUNDS=${1:-3}
else
  SIZES=("${1:-200}")
  TONES=${2:-20}
  ROUNDS=${3:-3}
fi
bash scripts/setup.sh
command -v wget >/dev/null || { apt-get update -qq && apt-get install -y -qq wget >/dev/null; }
BUILD=build-bench
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DPM_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target pmcrawler pmdemo-server -j"$(nproc)" >/dev/null

WORK=$(realpath "$BUILD")/bench
rm -rf "$WORK"
mkdir -p "$WORK"
ln -sf "$(realpath "$BUILD")/app/pmcrawler" "$WORK/pmcrawler-bench"
SERVER=
trap 'if [ -n "$SERVER" ]; then kill $SERVER 2>/dev/null || true; fi; rm -rf "$WORK"/lib-*' EXIT

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
  if diff <(cd "$dir/tones" && ls -1 | LC_ALL=C sort) <(LC_ALL=C sort "$LIB/expected.txt") \
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

# library PAGES: serves a library of PAGES pages, runs the rounds against it and prints them
# and their medians; appends the medians to the series.
library() {
  local pages=$1
  LIB="$WORK/lib-$pages"
  mkdir -p "$LIB"
  "$BUILD/tools/pmdemo-server" --pages "$pages" --tones-per-page "$TONES" --min-size 2000 \
    --max-size 60000 --shape "$SHAPE" --expect "$LIB/expected.txt" >"$LIB/server.out" &
  SERVER=$!
  for _ in $(seq 400); do [ "$(wc -l <"$LIB/server.out")" -ge 2 ] && break; sleep 0.05; done
  URL=$(head -n 1 "$LIB/server.out")
  local anchors tonesTotal=$((pages * TONES))
  anchors=$(sed -n '2s/ .*//p' "$LIB/server.out")
  EXPECTED=$(wc -l <"$LIB/expected.txt")

  echo "Library: $pages pages × $TONES tones ($SHAPE shape, $anchors anchors) at $URL, $ROUNDS rounds"
  : >"$LIB/rounds.txt"
  for round in $(seq "$ROUNDS"); do
    dir="$LIB/round-$round"
    mkdir -p "$dir"
    if [ $((round % 2)) -eq 1 ]; then crawl "$dir"; harvest "$dir"; else harvest "$dir"; crawl "$dir"; fi
    # shellcheck disable=SC1091
    source "$dir/crawl.txt"  # CRAWL_SECONDS CPU_SECONDS PEAK_KB CHECK
    source "$dir/wget.txt"   # WGET_SECONDS WGET_CPU WGET_FILES
    printf 'Round %d: crawler %.2f s wall, %.2f s CPU, %d MB peak (%s); wget %.2f s wall, %.2f s CPU (%d files)\n' \
      "$round" "$CRAWL_SECONDS" "$CPU_SECONDS" "$((PEAK_KB / 1024))" "$CHECK" "$WGET_SECONDS" \
      "$WGET_CPU" "$WGET_FILES"
    echo "$CRAWL_SECONDS $CPU_SECONDS $PEAK_KB $WGET_SECONDS $WGET_CPU" >>"$LIB/rounds.txt"
  done
  kill "$SERVER" 2>/dev/null || true
  wait "$SERVER" 2>/dev/null || true
  SERVER=

  local crawl cpu peak wget wgetCpu mb
  crawl=$(cut -d' ' -f1 "$LIB/rounds.txt" | median)
  cpu=$(cut -d' ' -f2 "$LIB/rounds.txt" | median)
  peak=$(cut -d' ' -f3 "$LIB/rounds.txt" | median)
  wget=$(cut -d' ' -f4 "$LIB/rounds.txt" | median)
  wgetCpu=$(cut -d' ' -f5 "$LIB/rounds.txt" | median)
  mb=$(du -sm "$LIB/round-1/tones" | cut -f1)
  printf '\nMedians over %d rounds (%d tones, %d MB stored):\n' "$ROUNDS" "$tonesTotal" "$mb"
  printf 'Crawler: %.2f s wall, %.0f tones/s, %.2f s CPU (%.2f µs per anchor), peak memory %.0f MB\n' \
    "$crawl" "$(echo "$tonesTotal / $crawl" | bc -l)" "$cpu" "$(echo "$cpu * 1000000 / $anchors" | bc -l)" \
    "$(echo "$peak / 1024" | bc -l)"
  printf 'Wget:    %.2f s wall, %.2f s CPU\n' "$wget" "$wgetCpu"
  printf 'Ratio crawler / wget: %.2f\n\n' "$(echo "$crawl / $wget" | bc -l)"
  echo "$pages $anchors $crawl $wget $cpu $peak" >>"$WORK/series.txt"
}

: >"$WORK/series.txt"
for pages in "${SIZES[@]}"; do library "$pages"; done

if [ "$MODE" = series ]; then
  printf 'Series: %s shape, %d tones per page, medians of %d rounds\n' "$SHAPE" "$TONES" "$ROUNDS"
  printf '%6s %8s %13s %10s %6s %12s %13s %10s\n' pages anchors "crawler wall" "wget wall" ratio \
    "crawler CPU" "CPU / anchor" "peak mem"
  while read -r pages anchors crawl wget cpu peak; do
    printf '%6d %8d %11.2f s %8.2f s %6.2f %10.2f s %10.2f µs %7.0f MB\n' "$pages" "$anchors" \
      "$crawl" "$wget" "$(echo "$crawl / $wget" | bc -l)" "$cpu" \
      "$(echo "$cpu * 1000000 / $anchors" | bc -l)" "$(echo "$peak / 1024" | bc -l)"
  done <"$WORK/series.txt"
fi
