#!/bin/sh
# Builds and tests the library four ways: the normal 64-bit build, the same
# suite under AddressSanitizer + UndefinedBehaviorSanitizer, a 32-bit build,
# and the tests that cross threads under ThreadSanitizer.  Every test runs in
# a private network namespace: as root, or as any other user inside a user
# namespace of its own (see tests/support/netns-run.sh); only root can install
# what is missing.
set -eu
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)

run() {
  name=$1; shift
  echo "=== $name build ==="
  cmake -S . -B "build/$name" "$@" >/dev/null
  cmake --build "build/$name" -j "$jobs"
  ctest --test-dir "build/$name" -j "$jobs" --output-on-failure
}

run plain -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run sanitize -DCMAKE_BUILD_TYPE=Debug -DQAPI_SANITIZE=ON -DQAPI_BENCH=OFF
run m32 -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQAPI_M32=ON

# ThreadSanitizer over the message layer and the suites whose timers or
# notifications cross threads: a fourth build, of those tests only.
TSAN_OPTIONS=halt_on_error=1 run tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQAPI_TSAN=ON
echo "all four builds passed"
