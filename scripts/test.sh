#!/usr/bin/env bash
# Runs the whole test suite: a normal build and a build under AddressSanitizer and
# UndefinedBehaviorSanitizer, each with all of its tests (fuzz harnesses replay their kept inputs),
# then the tests of work on background threads under ThreadSanitizer.
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

# ThreadSanitizer over the code that runs work on threads of its own or is shared between threads:
# only the platform core, movie and toolkit imaging tests are built, and only those of the component
# services, background threads, user data, metadata, the graphics services and movies are run.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSYLMARK_TSAN=ON
# The sanitizer's memory layout needs at most 28 random bits in mmap addresses; on kernels that
# use more, its programs (test discovery included) run without address randomisation. Where
# neither way lets a sanitized program start (a sandbox that refuses the personality change),
# the step says so and stops there.
probe_dir="$(mktemp -d)"
echo 'int main() { return 0; }' > "$probe_dir/probe.cpp"
c++ -fsanitize=thread "$probe_dir/probe.cpp" -o "$probe_dir/probe"
tsan_run=()
if ! "$probe_dir/probe" > /dev/null 2>&1; then
  tsan_run=(setarch "$(uname -m)" -R)
  if ! "${tsan_run[@]}" "$probe_dir/probe" > /dev/null 2>&1; then
    echo "ThreadSanitizer cannot start a program on this machine; its tests are not run."
    rm -rf "$probe_dir"
    exit 0
  fi
fi
rm -rf "$probe_dir"
"${tsan_run[@]}" cmake --build build-tsan -j"$jobs" --target toolkit_imaging_tests platform_core_tests platform_movie_tests
TSAN_OPTIONS=halt_on_error=1 "${tsan_run[@]}" \
  ctest --test-dir build-tsan -j"$jobs" --output-on-failure -R "^(ComponentService|BackgroundThread|UserData|MetaData|ImportGraphics|ExportGraphics|Movies\\.)"
