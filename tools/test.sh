#!/usr/bin/env bash
# Builds everything and runs the whole suite twice: a normal build (warnings are
# errors) and a build under AddressSanitizer and UndefinedBehaviorSanitizer;
# then the driver library's threaded test under ThreadSanitizer.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
jobs=$(nproc)

bash "$top/tools/install-deps.sh"

run_suite() {
  local tree=$1; shift
  cmake -S "$top" -B "$tree" -DSCOPE_WERROR=ON "$@"
  cmake --build "$tree" -j"$jobs"
  (cd "$tree" && ctest --output-on-failure --timeout 300 -j"$jobs")
}

run_suite "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite "$build-asan" -DCMAKE_BUILD_TYPE=Debug -DSCOPE_SANITIZE=ON

unset ASAN_OPTIONS UBSAN_OPTIONS
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
run_suite "$build-tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSCOPE_TSAN=ON
