#!/usr/bin/env bash
# Runs the whole test suite: a normal build and a build under AddressSanitizer and
# UndefinedBehaviorSanitizer, each with all of its tests (fuzz harnesses replay their kept inputs).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/packages.sh
jobs="$(nproc)"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build -j"$jobs" --output-on-failure

cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSYLMARK_SANITIZE=ON
cmake --build build-sanitize -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize -j"$jobs" --output-on-failure
