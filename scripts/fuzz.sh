#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time on its seed
# corpus (fuzz/corpus/<target>). New findings are left as crash-* files in build-fuzz/.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-60}
bash scripts/setup.sh
command -v clang++ >/dev/null || { apt-get update -qq && apt-get install -y -qq clang libclang-rt-14-dev >/dev/null; }
BUILD=build-fuzz
CXX=clang++ cmake -S fuzz -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"$(nproc)" >/dev/null
status=0
for target in "$BUILD"/fuzz_*; do
  name=$(basename "$target")
  name=${name#fuzz_}
  work="$BUILD/corpus/$name"
  mkdir -p "$work"
  echo "== $name ($SECONDS_EACH s)"
  (cd "$BUILD" && "./fuzz_$name" -max_total_time="$SECONDS_EACH" -print_final_stats=0 \
      -max_len=8192 "corpus/$name" "../fuzz/corpus/$name" 2>&1 | tail -n 3) || status=1
done
exit $status
