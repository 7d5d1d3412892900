#!/usr/bin/env bash
# Saves pictures of the main dialog (before and after a crawl with failures), the crawl's
# report, the about box and a progress window as PNG files.
#   scripts/screenshots.sh [FOLDER]   (default: build/screenshots)
# The windows open on a virtual display (Xvfb), so this works without a screen.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD=${BUILD_DIR:-build}
OUT=$(realpath -m "${1:-$BUILD/screenshots}")
cmake -S . -B "$BUILD" >/dev/null
cmake --build "$BUILD" --target pm_screenshots -j"$(nproc)"
mkdir -p "$OUT"
xvfb-run -a -s "-screen 0 1280x1024x24" "$BUILD/app/pm_screenshots" "$OUT"
