#!/usr/bin/env bash
# Installs what is missing, builds, and opens the crawler's main dialog. Without a display
# the program runs on a virtual one (Xvfb), which is useful only to see that it starts.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD=${BUILD_DIR:-build}
cmake -S . -B "$BUILD" >/dev/null
cmake --build "$BUILD" --target pmcrawler -j"$(nproc)"
if [ -n "${DISPLAY:-}" ]; then
  exec "$BUILD/app/pmcrawler"
else
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$BUILD/app/pmcrawler"
fi
