#!/bin/sh
# Runs the simulated day of tests/soak/: 512 station clients, 32 call-record
# feeds and 8 adjunct links against servers in one process, the manual clock
# driven through H simulated hours (36,000 ticks each; a day by default),
# built under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer
# (the sanitize preset, build/sanitize), in a private network namespace.
#
#   scripts/soak.sh [--hours H] [--seed S] [--plain]
#
# --plain takes the plain build (build/plain) instead: faster, no leak check.
# It prints the resident memory at the start, after the warm-up and at the
# end, the heap allocations of the ticks, the largest tick's payloads, and
# what the servers caused against what the application received; it fails
# on the first broken rule.  The test run (CTest's soak_hour) takes one hour.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
hours=24
seed=
preset=sanitize
while [ $# -gt 0 ]; do
  case $1 in
    --hours) hours=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --plain) preset=linux; shift ;;
    *) echo "usage: $0 [--hours H] [--seed S] [--plain]" >&2; exit 2 ;;
  esac
done
cd "$here"
scripts/ensure-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc 2>/dev/null || echo 2)" --target qapi_soak >/dev/null
build=build/plain
[ "$preset" = linux ] || build=build/$preset
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
  exec tests/support/netns-run.sh "$build/tests/soak/qapi_soak" --hours "$hours" ${seed:+--seed "$seed"}
