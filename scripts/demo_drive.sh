#!/usr/bin/env bash
# Drives the crawler as a user would, inside a display without a person: waits for the main
# window, presses Enter (Start Crawl), waits for the crawl to end, takes screenshots, closes.
#   scripts/demo_drive.sh PROGRAM SCREENSHOT_DIR
set -uo pipefail
PROGRAM=$1
SHOTS=$2

"$PROGRAM" &
APP=$!
shot() { import -window root "$SHOTS/$1.png" 2>/dev/null || true; }
wait_for() { # name, present(1)/absent(0), seconds
  for _ in $(seq $(($3 * 20))); do
    if xdotool search --name "$1" >/dev/null 2>&1; then [ "$2" = 1 ] && return 0
    else [ "$2" = 0 ] && return 0; fi
    sleep 0.05
  done
  return 1
}

if ! wait_for "^Patchmere Crawler$" 1 30; then
  echo "The main window did not open." >&2
  kill $APP 2>/dev/null
  exit 1
fi
sleep 0.5
shot 1-main-window
MAIN=$(xdotool search --name "^Patchmere Crawler$" | head -n 1)
xdotool windowactivate --sync "$MAIN" 2>/dev/null || xdotool windowfocus --sync "$MAIN"
xdotool key --window "$MAIN" Return
if wait_for "^Crawling Patchmere library" 1 10; then
  sleep 0.3
  shot 2-progress-window
  wait_for "^Crawling Patchmere library" 0 600 || echo "The crawl did not end in time." >&2
fi
sleep 0.3
shot 3-after-crawl
xdotool key --window "$MAIN" Escape
for _ in $(seq 100); do kill -0 $APP 2>/dev/null || break; sleep 0.05; done
kill $APP 2>/dev/null || true
echo "Screenshots: $SHOTS"
