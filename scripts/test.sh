#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a plain build, and once in
# a build with AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer.
#   PM_SKIP_SANITIZERS=1 runs the plain build only.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD=${BUILD_DIR:-build}
ROOT=$(pwd)

run_suite() { # build-dir, cmake options...
  local dir=$1
  shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
  if [ -z "${DISPLAY:-}" ]; then
    # -noreset: the server would otherwise reset between two test programs and refuse the
    # next one for a moment.
    xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" \
      ctest --test-dir "$dir" --output-on-failure -j2
  else
    ctest --test-dir "$dir" --output-on-failure -j2
  fi
}

echo "== plain build"
run_suite "$BUILD" -DPM_SANITIZE=OFF

if [ -z "${PM_SKIP_SANITIZERS:-}" ]; then
  echo "== sanitizer build"
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=0"
  export LSAN_OPTIONS="suppressions=$ROOT/tests/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  run_suite "$BUILD-sanitize" -DPM_SANITIZE=ON
fi
