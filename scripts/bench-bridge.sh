#!/bin/sh
# qapi-bridge's benchmark, in a private network namespace: events a second
# from the simulator's host through the library and the bridge to a
# consumer, beside a bare rabbitmq-c publisher of the same bodies with the
# same confirms, and the latency from the library's post to the consumer at
# 1,000 events a second.  Prints one table.
#
#   scripts/bench-bridge.sh [--build DIR] [--events N] [--rate R] [--latency-seconds S]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build/plain
if [ "${1:-}" = --build ]; then build=$2; shift 2; fi
if [ ! -d "$build" ]; then
  "$here/scripts/ensure-deps.sh"
  (cd "$here" && cmake --preset linux >/dev/null)
fi
cmake --build "$build" -j 2 --target qapi-bridge qapi-sim qapi_bridge_bench_peer >/dev/null
exec "$here/tests/support/netns-run.sh" /usr/bin/python3 "$here/bench/bridge/bench_bridge.py" \
  "$build/apps/bridge/qapi-bridge" "$build/apps/sim/qapi-sim" "$build/bench/bridge/qapi_bridge_bench_peer" "$@"
