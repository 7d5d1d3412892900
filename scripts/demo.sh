#!/usr/bin/env bash
# Serves the bundled demo library on 127.0.0.1 and opens the crawler on it, under an
# application name of its own ("pmcrawler-demo") so the user's own settings stay untouched.
# With a display the user drives the window; without one, the crawl runs under Xvfb, Start
# Crawl is pressed as a user would, and the stored files and screenshots are shown at the end.
# The folder is kept and the server listens on the same port each time, so a second run asks
# only whether each tone changed (the harvest record) and the server answers "not modified".
#   scripts/demo.sh BUILD_DIR      (PM_DEMO_PORT: the port, 8642 by default)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=$(realpath "${1:-build}")
DEMO="$BUILD/demo"
FOLDER="$DEMO/Patchmere Demo Tones"
SHOTS="$DEMO/screenshots"
CONFIG_DIR="${XDG_CONFIG_HOME:-$HOME/.config}/Patchmere Crawler"

PORT=${PM_DEMO_PORT:-8642}
rm -rf "$SHOTS" "$DEMO/stats.txt"
mkdir -p "$DEMO" "$SHOTS" "$CONFIG_DIR"
ln -sf "$BUILD/app/pmcrawler" "$DEMO/pmcrawler-demo"

# Each tone is held back a little, so the crawl can be watched (a local crawl of the small
# demo library is otherwise over in a blink).
serve() {
  "$BUILD/tools/pmdemo-server" --port "$1" --expect "$DEMO/expected.txt" --tone-delay-ms 80 \
    --stats "$DEMO/stats.txt" >"$DEMO/server.out" &
  SERVER=$!
  for _ in $(seq 100); do
    [ -s "$DEMO/server.out" ] && return 0
    kill -0 $SERVER 2>/dev/null || return 1
    sleep 0.05
  done
}
trap 'kill $SERVER 2>/dev/null || true' EXIT
# Another port when that one is taken: the record then matches nothing and all is fetched.
serve "$PORT" || serve 0
URL=$(head -n 1 "$DEMO/server.out")
printf '[Config]\nLastURL=%s\nLastPath=%s\n' "$URL" "$FOLDER" >"$CONFIG_DIR/pmcrawler-demo.conf"
echo "Demo library: $URL"
echo "Demo folder:  $FOLDER"

if [ -n "${DISPLAY:-}" ] && [ -z "${PM_DEMO_HEADLESS:-}" ]; then
  "$DEMO/pmcrawler-demo"
else
  PM_DEMO_HEADLESS=1 xvfb-run -a -s "-screen 0 1024x768x24" \
    bash scripts/demo_drive.sh "$DEMO/pmcrawler-demo" "$SHOTS"
fi

kill $SERVER 2>/dev/null || true
wait $SERVER 2>/dev/null || true
if [ -f "$DEMO/stats.txt" ]; then
  # shellcheck disable=SC1091
  source "$DEMO/stats.txt" # REQUESTS TONE_REQUESTS NOT_MODIFIED TONE_BYTES
  echo "The server answered $REQUESTS requests: $TONE_REQUESTS for tones, $NOT_MODIFIED of them" \
    "\"not modified\", and sent $TONE_BYTES bytes of tone bodies."
fi

echo
echo "Stored in $FOLDER:"
if [ -d "$FOLDER" ]; then
  (cd "$FOLDER" && ls -1)
  if diff <(cd "$FOLDER" && ls -1 | LC_ALL=C sort) <(LC_ALL=C sort "$DEMO/expected.txt") >/dev/null; then
    echo "All $(wc -l <"$DEMO/expected.txt") distinct demo tones are there, each once."
  else
    echo "The folder differs from the demo library's $(wc -l <"$DEMO/expected.txt") distinct tones."
  fi
else
  echo "(nothing: the crawl did not run)"
fi
