#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD=${BUILD_DIR:-build}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
run_ctest() { ctest --test-dir "$BUILD" --output-on-failure -j2 "$@"; }
if [ -z "${DISPLAY:-}" ]; then
  # -noreset: the server would otherwise reset between two test programs and refuse the
  # next one for a moment.
  xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash -c "$(declare -f run_ctest); BUILD=$BUILD; run_ctest"
else
  run_ctest
fi
