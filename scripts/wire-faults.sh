#!/bin/sh
# Runs the wire-fault scenarios of tests/wire/: the library (in
# qapi-wire-driver) against qapi-sim on two private network namespaces, the
# simulator losing, duplicating, delaying and reordering station datagrams,
# restarting, cutting the call-record stream into small segments, losing its
# adjunct server and flooding the station group.
#
#   scripts/wire-faults.sh [--build DIR] [--seconds N] [--seed N] [SCENARIO]
#
# SCENARIO is one of station-faults, server-restart, feed-segments,
# adjunct-vanish, station-flood, desktop, two-interfaces, or all (the
# default).  The library's host is a desktop's (a default route, no route
# for the group, a host name that means 127.0.1.1), or in two-interfaces
# one whose group is routed over its second interface.  --seconds N runs the
# faulty part of station-faults for about N seconds and has feed-segments
# send about N seconds' worth of records (CTest runs the short versions);
# --seed repeats a run's random choices.  Run by any user but root, the
# namespaces live in a user namespace in which that user is root.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build/plain
seconds=60
seed=
scenario=all
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    -*) echo "usage: $0 [--build DIR] [--seconds N] [--seed N] [SCENARIO]" >&2; exit 2 ;;
    *) scenario=$1; shift ;;
  esac
done
sim=$build/apps/sim/qapi-sim
driver=$build/tests/wire/qapi-wire-driver
if [ ! -x "$sim" ] || [ ! -x "$driver" ]; then
  "$here/scripts/ensure-deps.sh"
  cmake -S "$here" -B "$build" -DQAPI_BENCH=OFF >/dev/null
  cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target qapi-sim qapi-wire-driver >/dev/null
fi
exec python3 "$here/tests/wire/wire_faults.py" "$scenario" --sim "$sim" --driver "$driver" --seconds "$seconds" \
  ${seed:+--seed "$seed"}
