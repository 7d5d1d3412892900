#!/usr/bin/env bash
# Measures a real crawl through the real windows against a generated local library, and GNU
# Wget harvesting the same library, in alternating rounds; prints every round and the
# medians with their ratio.
#   scripts/benchmark.sh [--cli] [PAGES] [TONES_PER_PAGE] [ROUNDS]   (default 200 × 20, 3 rounds)
#   scripts/benchmark.sh [--cli] --full-pager [PAGES] [TONES_PER_PAGE] [ROUNDS]
#   scripts/benchmark.sh [--cli] --series [ROUNDS]
#   scripts/benchmark.sh --recrawl [PAGES] [TONES_PER_PAGE]
#   scripts/benchmark.sh --limit R [PAGES] [TONES_PER_PAGE] [ROUNDS]   (default 50 × 20, 1 round)
#   scripts/benchmark.sh --servers [--trickle]
# --cli adds, in every round, the same crawl through the command line (pmcrawler --url
# --folder, no display), so the two front ends are measured side by side; the three take
# turns at going first. Its time is the whole run of the command, start and exit included,
# while the window's starts at the key press: the comparison leans against the command line.
# Options before these: --rtt MS holds every response of the library's server back by MS
# milliseconds, as a server a round trip away would; --connections N sets the crawler's
# MaxConnections (default 4) and the parallel curl floor's --parallel-max.
# --disk puts every folder on the root file system (/var/tmp) instead of a tmpfs, so that what
# storing costs on a disk (the syncs that keep tones whole across a power cut) shows. Each crawl
# then starts from a clean disk: what an earlier client left unwritten is synced before it, so
# that a crawler which syncs does not pay for a client that did not.
# --against REV also builds the program as it was at git revision REV and crawls with it in
# every round, taking turns at going first, so the two builds are measured side by side.
# Beside Wget, each round times one curl --parallel --parallel-max N over the same URL list:
# the floor that N connections allow. Every client writes to a tmpfs (/dev/shm), so that the
# file system's noise stays out of the comparison.
# The full-pager library links every page number from every page and names every tone in a
# pmw_filename= query. The series runs it at 50, 200 and 800 pages of 20 tones and ends with a
# table of the three sizes, CPU time per anchor walked among them, so that a cost which grows
# with the size of the library shows.
# --recrawl crawls a library, then crawls it again into the same folder (the harvest record
# makes the second ask only whether each tone changed); then the same again with one tone
# changed on the server and one stored file deleted between the crawls. Wget with -N does the
# same crawls. For every crawl it prints wall time, requests and tone body bytes as the demo
# server counted them, and checks the folder.
# --limit R serves the library through the demo server's own rate limiter: R requests a
# second with a burst of 5, the rest answered 429 with Retry-After: 1 (no other server needed).
# Each round runs, each against a fresh limiter and in turns, the crawler's command line (with
# --connections, default 4), Wget with --retry-on-http-error=429,503 and curl --retry over
# the same addresses; it prints the tones each stored, its wall time against the floor
# (requests ÷ R) and whether the crawler's folder is the one an unlimited crawl stores.
# --servers crawls, through the command line, with the default setting and with one
# connection, a server that answers 503 with Retry-After: 1 to a second request in flight, and
# one that serves one connection at a time, keeping it open; --trickle adds a library one of
# whose tones comes at a byte a second (it takes some minutes). It prints each crawl's exit
# status, tones stored and wall time.
# Each round writes into fresh folders and nothing is deleted until the end: on file systems
# that avoid reusing recently freed inodes, deleting thousands of files just before a round
# slows whoever creates files next. The order alternates so neither client always goes first.
set -euo pipefail
cd "$(dirname "$0")/.."
MODE=single
SHAPE=default
CLI=
TRICKLE=
LIMIT=0
RTT=0
CONNECTIONS=4
DISK=
AGAINST=
while :; do
  case "${1:-}" in
  --series) MODE=series SHAPE=full-pager; shift ;;
  --full-pager) SHAPE=full-pager; shift ;;
  --recrawl) MODE=recrawl; shift ;;
  --limit) MODE=limit LIMIT=$2; shift 2 ;;
  --servers) MODE=servers; shift ;;
  --trickle) TRICKLE=1; shift ;;
  --cli) CLI=1; shift ;;
  --rtt) RTT=$2; shift 2 ;;
  --connections) CONNECTIONS=$2; shift 2 ;;
  --disk) DISK=1; shift ;;
  --against) AGAINST=$2; shift 2 ;;
  *) break ;;
  esac
done
if [ "$MODE" = series ]; then
  SIZES=(50 200 800)
  TONES=20
  ROUNDS=${1:-3}
elif [ "$MODE" = limit ]; then
  SIZES=("${1:-50}")
  TONES=${2:-20}
  ROUNDS=${3:-1}
else
  SIZES=("${1:-200}")
  TONES=${2:-20}
  ROUNDS=${3:-3}
fi
bash scripts/setup.sh
command -v wget >/dev/null || { apt-get update -qq && apt-get install -y -qq wget >/dev/null; }
command -v curl >/dev/null || { apt-get update -qq && apt-get install -y -qq curl >/dev/null; }
BUILD=build-bench
LAUNCHER=()
command -v ccache >/dev/null && LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DPM_BUILD_TESTS=OFF "${LAUNCHER[@]}" >/dev/null
cmake --build "$BUILD" --target pmcrawler pmdemo-server -j"$(nproc)" >/dev/null
if [ -n "$AGAINST" ]; then
  # The earlier build from the revision's own files, beside this checkout's.
  rm -rf "$BUILD-before"
  mkdir -p "$BUILD-before/src"
  git archive "$AGAINST" | tar -x -C "$BUILD-before/src"
  cmake -S "$BUILD-before/src" -B "$BUILD-before/build" -DCMAKE_BUILD_TYPE=Release \
    -DPM_BUILD_TESTS=OFF "${LAUNCHER[@]}" >/dev/null
  cmake --build "$BUILD-before/build" --target pmcrawler -j"$(nproc)" >/dev/null
fi

if [ -n "$DISK" ]; then WORK=/var/tmp/pm-bench-$$
elif [ -d /dev/shm ] && [ -w /dev/shm ]; then WORK=/dev/shm/pm-bench-$$
else WORK=$(realpath "$BUILD")/bench; fi
rm -rf "$WORK"
mkdir -p "$WORK"
ln -sf "$(realpath "$BUILD")/app/pmcrawler" "$WORK/pmcrawler-bench"
if [ -n "$AGAINST" ]; then
  mkdir -p "$WORK/before"
  ln -sf "$(realpath "$BUILD-before/build")/app/pmcrawler" "$WORK/before/pmcrawler-bench"
fi
SERVER=
trap 'if [ -n "$SERVER" ]; then kill $SERVER 2>/dev/null || true; fi; rm -rf "$WORK"' EXIT

# settle: with --disk, writes what is pending on the disk before a timed crawl.
settle() { if [ -n "$DISK" ]; then sync -f "$WORK" && sleep 1; fi; }

# crawl ROUND_DIR [STATE_DIR] [PROGRAM] [TAG]: the crawler (by default this checkout's)
# harvests into ROUND_DIR/tonesTAG, its cache beside it, its harvest record in STATE_DIR (by
# default one of the round's own, so it starts empty); the figures go to ROUND_DIR/crawlTAG.txt.
crawl() {
  local dir=$1 tag=${4:-}
  local state=${2:-$1/state$tag} program=${3:-$WORK/pmcrawler-bench}
  mkdir -p "$dir/config$tag/Patchmere Crawler" "$dir/tmp$tag"
  printf '[Config]\nLastURL=%s\nLastPath=%s\nMaxConnections=%s\n' "$URL" "$dir/tones$tag" "$CONNECTIONS" \
    >"$dir/config$tag/Patchmere Crawler/pmcrawler-bench.conf"
  local drive=(bash scripts/bench_drive.sh "$program" "$dir/crawl$tag.txt")
  settle
  if [ -n "${DISPLAY:-}" ]; then
    XDG_CONFIG_HOME="$dir/config$tag" XDG_STATE_HOME="$state" TMPDIR="$dir/tmp$tag" "${drive[@]}"
  else
    # Without key repeat: a Return whose release the drive fails to deliver would otherwise
    # repeat after a moment and press the progress window's Cancel.
    XDG_CONFIG_HOME="$dir/config$tag" XDG_STATE_HOME="$state" TMPDIR="$dir/tmp$tag" \
      xvfb-run -a -s "-screen 0 1024x768x24 -r" "${drive[@]}"
  fi
  if diff <(cd "$dir/tones$tag" && ls -1 | LC_ALL=C sort) <(LC_ALL=C sort "$LIB/expected.txt") \
    >/dev/null; then
    echo "CHECK='all $EXPECTED distinct tones stored once, under their names'" >>"$dir/crawl$tag.txt"
  else
    echo "CHECK='MISMATCH: $(find "$dir/tones$tag" -type f | wc -l) files stored, $EXPECTED expected'" \
      >>"$dir/crawl$tag.txt"
  fi
}

# before ROUND_DIR: the same crawl by the build of --against, into ROUND_DIR/tones-before.
before() { crawl "$1" "" "$WORK/before/pmcrawler-bench" -before; }

# cli ROUND_DIR: the same crawl through the command line into ROUND_DIR/cli-tones, timed from
# the command's start to its exit, without a display, with a harvest record of its own.
cli() {
  local dir=$1 timing
  mkdir -p "$dir/cli-tmp"
  settle
  timing=$(XDG_STATE_HOME="$dir/cli-state" TMPDIR="$dir/cli-tmp" /usr/bin/time -f '%e %U %S %M' env -u DISPLAY \
    "$WORK/pmcrawler-bench" --quiet --url "$URL" --folder "$dir/cli-tones" 2>&1 >/dev/null |
    tail -n 1)
  read -r WALL USER SYS PEAK <<<"$timing"
  echo "CLI_SECONDS=$WALL CLI_CPU=$(echo "$USER + $SYS" | bc) CLI_PEAK_KB=$PEAK" >"$dir/cli.txt"
  if diff <(cd "$dir/cli-tones" && ls -1 | LC_ALL=C sort) <(LC_ALL=C sort "$LIB/expected.txt") \
    >/dev/null; then
    echo "CLI_CHECK='all stored'" >>"$dir/cli.txt"
  else
    echo "CLI_CHECK='MISMATCH: $(find "$dir/cli-tones" -type f | wc -l) files'" >>"$dir/cli.txt"
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

# floor ROUND_DIR: one curl fetches every page and tone address, N at a time.
floor() {
  local dir=$1 timing
  mkdir -p "$dir/curl"
  awk -v base="$BASE" '{ printf "url = \"%s%s\"\noutput = \"f%d\"\n", base, $0, NR }' \
    "$LIB/urls.txt" >"$dir/curl.cfg"
  timing=$({
    TIMEFORMAT='%R'
    time (cd "$dir/curl" && curl -s --no-progress-meter --parallel --parallel-max "$CONNECTIONS" -K "$dir/curl.cfg" 2>/dev/null || true)
  } 2>&1)
  echo "CURL_SECONDS=$timing" >"$dir/curl.txt"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# library PAGES: serves a library of PAGES pages, runs the rounds against it and prints them
# and their medians; appends the medians to the series.
library() {
  local pages=$1
  LIB="$WORK/lib-$pages"
  mkdir -p "$LIB"
  "$BUILD/tools/pmdemo-server" --pages "$pages" --tones-per-page "$TONES" --min-size 2000 \
    --max-size 60000 --shape "$SHAPE" --expect "$LIB/expected.txt" --urls "$LIB/urls.all" \
    --delay-ms "$RTT" >"$LIB/server.out" &
  SERVER=$!
  for _ in $(seq 400); do [ "$(wc -l <"$LIB/server.out")" -ge 2 ] && break; sleep 0.05; done
  URL=$(head -n 1 "$LIB/server.out")
  BASE=$(echo "$URL" | sed -E 's#^(https?://[^/]+).*#\1#')
  LC_ALL=C sort -u "$LIB/urls.all" >"$LIB/urls.txt"
  local anchors tonesTotal=$((pages * TONES))
  anchors=$(sed -n '2s/ .*//p' "$LIB/server.out")
  EXPECTED=$(wc -l <"$LIB/expected.txt")

  echo "Library: $pages pages × $TONES tones ($SHAPE shape, $anchors anchors) at $URL, $ROUNDS rounds, ${RTT} ms per request, $CONNECTIONS connections, folders in $WORK ($(stat -f -c %T "$WORK"))"
  : >"$LIB/rounds.txt"
  : >"$LIB/before.txt"
  for round in $(seq "$ROUNDS"); do
    dir="$LIB/round-$round"
    mkdir -p "$dir"
    # The earlier build crawls right before or right after this one's, in turn.
    if [ -n "$AGAINST" ] && [ $((round % 2)) -eq 1 ]; then before "$dir"; fi
    if [ -n "$CLI" ]; then
      # Each client goes first, second and third in turn; the floor last.
      local order=(crawl cli harvest) first=$(((round - 1) % 3))
      for i in 0 1 2; do "${order[$(((first + i) % 3))]}" "$dir"; done
      floor "$dir"
    elif [ $((round % 2)) -eq 1 ]; then crawl "$dir"; harvest "$dir"; floor "$dir"; else floor "$dir"; harvest "$dir"; crawl "$dir"; fi
    if [ -n "$AGAINST" ] && [ $((round % 2)) -eq 0 ]; then before "$dir"; fi
    if [ -n "$AGAINST" ]; then
      # shellcheck disable=SC1091
      source "$dir/crawl-before.txt"
      printf '         previous build (%s) %.2f s wall, %.2f s CPU (%s)\n' "$AGAINST" "$CRAWL_SECONDS" "$CPU_SECONDS" "$CHECK" >"$dir/before-line.txt"
      echo "$CRAWL_SECONDS $CPU_SECONDS" >>"$LIB/before.txt"
    fi
    # shellcheck disable=SC1091
    source "$dir/crawl.txt"  # CRAWL_SECONDS CPU_SECONDS PEAK_KB CHECK
    source "$dir/wget.txt"   # WGET_SECONDS WGET_CPU WGET_FILES
    source "$dir/curl.txt"   # CURL_SECONDS
    printf 'Round %d: crawler %.2f s wall, %.2f s CPU, %d MB peak (%s); wget %.2f s wall, %.2f s CPU (%d files); curl floor %.2f s\n' \
      "$round" "$CRAWL_SECONDS" "$CPU_SECONDS" "$((PEAK_KB / 1024))" "$CHECK" "$WGET_SECONDS" \
      "$WGET_CPU" "$WGET_FILES" "$CURL_SECONDS"
    local cliFigures=
    if [ -n "$CLI" ]; then
      # shellcheck disable=SC1091
      source "$dir/cli.txt"  # CLI_SECONDS CLI_CPU CLI_PEAK_KB CLI_CHECK
      printf '         command line %.2f s wall, %.2f s CPU, %d MB peak (%s)\n' "$CLI_SECONDS" \
        "$CLI_CPU" "$((CLI_PEAK_KB / 1024))" "$CLI_CHECK"
      cliFigures=" $CLI_SECONDS $CLI_CPU $CLI_PEAK_KB"
    fi
    [ -n "$AGAINST" ] && cat "$dir/before-line.txt"
    echo "$CRAWL_SECONDS $CPU_SECONDS $PEAK_KB $WGET_SECONDS $WGET_CPU $CURL_SECONDS$cliFigures" >>"$LIB/rounds.txt"
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
  local floorWall
  floorWall=$(cut -d' ' -f6 "$LIB/rounds.txt" | median)
  mb=$(du -sm "$LIB/round-1/tones" | cut -f1)
  printf '\nMedians over %d rounds (%d tones, %d MB stored):\n' "$ROUNDS" "$tonesTotal" "$mb"
  printf 'Crawler: %.2f s wall, %.0f tones/s, %.2f s CPU (%.2f µs per anchor), peak memory %.0f MB\n' \
    "$crawl" "$(echo "$tonesTotal / $crawl" | bc -l)" "$cpu" "$(echo "$cpu * 1000000 / $anchors" | bc -l)" \
    "$(echo "$peak / 1024" | bc -l)"
  printf 'Wget:    %.2f s wall, %.2f s CPU\n' "$wget" "$wgetCpu"
  printf 'Curl floor (--parallel-max %d): %.2f s wall\n' "$CONNECTIONS" "$floorWall"
  printf 'Ratio crawler / wget: %.2f, crawler / curl floor: %.2f\n' "$(echo "$crawl / $wget" | bc -l)" \
    "$(echo "$crawl / $floorWall" | bc -l)"
  if [ -n "$CLI" ]; then
    local cliWall cliCpu cliPeak
    cliWall=$(cut -d' ' -f7 "$LIB/rounds.txt" | median)
    cliCpu=$(cut -d' ' -f8 "$LIB/rounds.txt" | median)
    cliPeak=$(cut -d' ' -f9 "$LIB/rounds.txt" | median)
    printf 'Command line: %.2f s wall, %.0f tones/s, %.2f s CPU, peak memory %.0f MB\n' \
      "$cliWall" "$(echo "$tonesTotal / $cliWall" | bc -l)" "$cliCpu" "$(echo "$cliPeak / 1024" | bc -l)"
    printf 'Ratio command line / window: %.2f wall, %.2f CPU\n' \
      "$(echo "$cliWall / $crawl" | bc -l)" "$(echo "$cliCpu / $cpu" | bc -l)"
  fi
  if [ -n "$AGAINST" ]; then
    local beforeWall beforeCpu
    beforeWall=$(cut -d' ' -f1 "$LIB/before.txt" | median)
    beforeCpu=$(cut -d' ' -f2 "$LIB/before.txt" | median)
    printf 'Previous build (%s): %.2f s wall, %.2f s CPU\n' "$AGAINST" "$beforeWall" "$beforeCpu"
    printf 'This build / previous build: %.3f wall, %.3f CPU\n' "$(echo "$crawl / $beforeWall" | bc -l)" \
      "$(echo "$cpu / $beforeCpu" | bc -l)"
  fi
  echo
  echo "$pages $anchors $crawl $wget $cpu $peak" >>"$WORK/series.txt"
}

# serve LIB PORT STATS [ARGS...]: a server for one crawl, on PORT (0: any), counting into STATS.
serve() {
  local lib=$1 port=$2 stats=$3
  shift 3
  : >"$lib/server.out"
  "$BUILD/tools/pmdemo-server" --port "$port" --pages "$PAGES" --tones-per-page "$TONES" \
    --min-size 2000 --max-size 60000 --expect "$lib/expected.txt" --stats "$stats" "$@" \
    >"$lib/server.out" &
  SERVER=$!
  for _ in $(seq 400); do [ "$(wc -l <"$lib/server.out")" -ge 2 ] && break; sleep 0.05; done
  URL=$(head -n 1 "$lib/server.out")
}
unserve() {
  kill "$SERVER" 2>/dev/null || true
  wait "$SERVER" 2>/dev/null || true
  SERVER=
}
# report LABEL SECONDS STATS
report() {
  # shellcheck disable=SC1090
  source "$3" # REQUESTS TONE_REQUESTS NOT_MODIFIED TONE_BYTES
  printf '  %-24s %7.2f s wall %6d requests %6d tone requests %6d not modified %11d tone body bytes\n' \
    "$1" "$2" "$REQUESTS" "$TONE_REQUESTS" "$NOT_MODIFIED" "$TONE_BYTES"
}
# files DIR: name and checksum of every file, sorted.
files() { (cd "$1" && find . -type f -print0 | xargs -0 sha256sum | LC_ALL=C sort); }

# timed LABEL DIR COMMAND...: runs the command, keeps its wall time and exit status in
# DIR/LABEL.txt.
timed() {
  local label=$1 dir=$2 start end status=0
  shift 2
  start=$(date +%s.%N)
  "$@" >"$dir/$label.log" 2>&1 || status=$?
  end=$(date +%s.%N)
  echo "SECONDS_TAKEN=$(echo "$end - $start" | bc) EXIT=$status" >"$dir/$label.txt"
}
# cli_crawl DIR [ARGS...]: the command line crawls URL into DIR/tones.
cli_crawl() {
  local dir=$1
  shift
  mkdir -p "$dir/tmp"
  XDG_STATE_HOME="$dir/state" TMPDIR="$dir/tmp" env -u DISPLAY "$WORK/pmcrawler-bench" \
    --url "$URL" --folder "$dir/tones" "$@"
}
stored() { find "$1" -type f 2>/dev/null | wc -l; }
# tones DIR: the files in DIR that hold a tone, not a server's refusal (what curl keeps when
# its retries run out).
tones() { find "$1" -type f -exec grep -L -x -s 'Too Many Requests' {} + 2>/dev/null | wc -l; }

# limited: every client against the rate limiter, each on a fresh one, in turns.
limited() {
  local lib="$WORK/lib-limit" requests floor
  mkdir -p "$lib"
  LIB=$lib
  PAGES=${SIZES[0]}
  serve "$lib" 0 "$lib/free.stats"
  cli_crawl "$lib/free" --quiet --connections "$CONNECTIONS" >/dev/null 2>&1 || true
  unserve
  files "$lib/free/tones" >"$lib/free.files"
  EXPECTED=$(wc -l <"$lib/expected.txt")
  requests=$(. "$lib/free.stats"; echo "$REQUESTS")
  floor=$(echo "$requests / $LIMIT" | bc -l)
  printf 'Rate limiter: %d requests/s, burst 5, 429 + Retry-After: 1; %d pages × %d tones, %d requests, floor %.1f s\n' \
    "$LIMIT" "$PAGES" "$TONES" "$requests" "$floor"
  local clients=(crawler wget curl)
  for round in $(seq "$ROUNDS"); do
    local dir="$lib/round-$round" first=$(((round - 1) % 3))
    mkdir -p "$dir"
    for i in 0 1 2; do
      local client=${clients[$(((first + i) % 3))]}
      serve "$lib" 0 "$dir/$client.stats" --limit "$LIMIT" --urls "$dir/urls.all"
      BASE=$(echo "$URL" | sed -E 's#^(https?://[^/]+).*#\1#')
      case $client in
      crawler) timed crawler "$dir" cli_crawl "$dir/crawler" --connections "$CONNECTIONS" ;;
      wget)
        timed wget "$dir" wget -q -r -l inf -nd -np --content-disposition -t 20 \
          --retry-on-http-error=429,503 --accept-regex '(library\.html|l6file)' \
          -P "$dir/wget/tones" "$URL" ;;
      curl)
        # curl cannot walk pages: it fetches every address the walk asks for.
        mkdir -p "$dir/curl/tones"
        awk -v base="$BASE" '{ printf "url = \"%s%s\"\noutput = \"f%d\"\n", base, $0, NR }' \
          "$dir/urls.all" >"$dir/curl.cfg"
        timed curl "$dir" sh -c "cd '$dir/curl/tones' && curl -s --retry 20 --parallel --parallel-max $CONNECTIONS -K '$dir/curl.cfg'" ;;
      esac
      unserve
    done
    for client in "${clients[@]}"; do
      # shellcheck disable=SC1090
      source "$dir/$client.txt"
      local pushed
      pushed=$(. "$dir/$client.stats"; echo "$PUSHED_BACK")
      printf 'Round %d: %-8s %4d files holding tones (%d distinct tones) in %7.2f s = %.2f × floor, exit %d, %d answered 429\n' \
        "$round" "$client" "$(tones "$dir/$client/tones")" "$EXPECTED" "$SECONDS_TAKEN" \
        "$(echo "$SECONDS_TAKEN / $floor" | bc -l)" "$EXIT" "$pushed"
    done
    if cmp -s "$lib/free.files" <(files "$dir/crawler/tones"); then
      echo "         the crawler's folder is byte for byte the unlimited crawl's"
    else
      echo "         the crawler's folder DIFFERS from the unlimited crawl's"
    fi
  done
}

# servers: servers that push back, crawled with the setting and with one connection.
servers() {
  local lib="$WORK/lib-servers"
  mkdir -p "$lib"
  LIB=$lib
  local cases=("1 10 --busy-when-concurrent --delay-ms 20" "1 6 --one-connection"
    "10 20 --one-connection")
  [ -n "$TRICKLE" ] && cases+=("1 3 --trickle-tone 1")
  local n=0
  for c in "${cases[@]}"; do
    read -r PAGES TONES args <<<"$c"
    n=$((n + 1))
    # shellcheck disable=SC2086
    for connections in "$CONNECTIONS" 1; do
      local dir="$lib/case-$n-$connections"
      mkdir -p "$dir"
      serve "$lib" 0 "$dir/server.stats" $args
      EXPECTED=$(wc -l <"$lib/expected.txt")
      timed crawl "$dir" cli_crawl "$dir" --connections "$connections"
      unserve
      # shellcheck disable=SC1090
      source "$dir/crawl.txt"
      printf '%-40s --connections %-2d exit %d, %d of %d tones stored, %7.2f s; %s\n' \
        "$PAGES × $TONES $args" "$connections" "$EXIT" "$(stored "$dir/tones")" "$EXPECTED" \
        "$SECONDS_TAKEN" "$(tail -n 1 "$dir/crawl.log")"
    done
  done
}

# recrawl SCENARIO: two crawls into one folder by each client; with "changed", tone 0 changes
# on the server and the stored copy of tone 2 is deleted between them.
recrawl() {
  local scenario=$1 lib="$WORK/lib-recrawl-$1" port
  local between=()
  [ "$scenario" = changed ] && between=(--change-tone 0)
  mkdir -p "$lib"
  LIB=$lib
  echo "$scenario library, $PAGES pages × $TONES tones:"
  # The crawler: its record and folder are kept from the first crawl to the second.
  serve "$lib" 0 "$lib/crawl1.stats"
  port=$(sed -E 's|^http://127\.0\.0\.1:([0-9]+)/.*|\1|' <<<"$URL")
  EXPECTED=$(wc -l <"$lib/expected.txt")
  crawl "$lib/crawler" "$lib/state"
  unserve
  # shellcheck disable=SC1091
  source "$lib/crawler/crawl.txt"
  report "crawler, first crawl" "$CRAWL_SECONDS" "$lib/crawl1.stats"
  local first=$CRAWL_SECONDS deleted=""
  files "$lib/crawler/tones" >"$lib/after1.txt"
  if [ "$scenario" = changed ]; then
    deleted=$(grep -x 'Clean.l6t' "$lib/expected.txt" || head -n 1 "$lib/expected.txt")
    rm -f "$lib/crawler/tones/$deleted"
  fi
  serve "$lib" "$port" "$lib/crawl2.stats" "${between[@]}"
  crawl "$lib/crawler" "$lib/state"
  unserve
  # shellcheck disable=SC1091
  source "$lib/crawler/crawl.txt"
  report "crawler, second crawl" "$CRAWL_SECONDS" "$lib/crawl2.stats"
  files "$lib/crawler/tones" >"$lib/after2.txt"
  # shellcheck disable=SC1091
  local bytes1 bytes2
  bytes1=$(. "$lib/crawl1.stats"; echo "$TONE_BYTES")
  bytes2=$(. "$lib/crawl2.stats"; echo "$TONE_BYTES")
  printf '  second / first: %.3f of the tone body bytes, %.3f of the wall time\n' \
    "$(echo "$bytes2 / $bytes1" | bc -l)" "$(echo "$CRAWL_SECONDS / $first" | bc -l)"
  if [ "$scenario" = unchanged ]; then
    if cmp -s "$lib/after1.txt" "$lib/after2.txt"; then
      echo "  folder after the second crawl: byte for byte the folder after the first"
    else
      echo "  folder after the second crawl: DIFFERS from the folder after the first"
    fi
  else
    local fetched added
    fetched=$(. "$lib/crawl2.stats"; echo $((TONE_REQUESTS - NOT_MODIFIED)))
    added=$(LC_ALL=C comm -13 "$lib/after1.txt" "$lib/after2.txt" | sed 's/^[0-9a-f]*  \.\///' | tr '\n' ' ')
    echo "  tone bodies fetched again: $fetched (deleted $deleted, changed tone 0); new or changed" \
      "files: $added; files of the first crawl still there: $(LC_ALL=C comm -12 "$lib/after1.txt" "$lib/after2.txt" | wc -l) of $(wc -l <"$lib/after1.txt")"
  fi

  # Wget, timestamping, the same two crawls.
  local timing
  for n in 1 2; do
    if [ "$n" = 2 ]; then
      serve "$lib" "$port" "$lib/wget$n.stats" "${between[@]}"
      [ -n "$deleted" ] && rm -f "$lib/wget/$deleted"
    else
      serve "$lib" "$port" "$lib/wget$n.stats"
    fi
    timing=$({
      TIMEFORMAT='%R'
      time wget -q -N -r -l inf -nd -np --content-disposition \
        --accept-regex '(library\.html|l6file)' -P "$lib/wget" "$URL" || true
    } 2>&1)
    unserve
    report "wget -N, crawl $n" "$timing" "$lib/wget$n.stats"
  done
  echo
}

: >"$WORK/series.txt"
if [ "$MODE" = limit ]; then
  limited
  exit 0
fi
if [ "$MODE" = servers ]; then
  servers
  exit 0
fi
if [ "$MODE" = recrawl ]; then
  PAGES=${SIZES[0]}
  recrawl unchanged
  recrawl changed
  exit 0
fi
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
