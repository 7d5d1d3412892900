#!/usr/bin/env bash
# Installs what is missing, builds, and runs the crawler on its bundled demo library: a
# small server on 127.0.0.1 serves generated library pages and tones, and the crawler opens
# with the demo address and a demo folder already filled in. With a display you drive the
# window yourself; without one it runs under Xvfb, Start Crawl is pressed for you, and the
# stored files and screenshots are shown at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD=${BUILD_DIR:-build}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" --target pmcrawler pmdemo-server -j"$(nproc)"
exec bash scripts/demo.sh "$BUILD"
