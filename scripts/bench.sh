#!/bin/sh
# Builds the benchmarks and runs every one of them inside a private network
# namespace (the end-to-end ones open the station endpoint, which
# multicasts), then prints one table of medians.
#
#   scripts/bench.sh [--build DIR] [--repetitions N]
#
# Without --build it uses the bench preset (build/bench), configuring it on a
# fresh checkout.  Benchmarks measure time: run them on a quiet machine.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=
repetitions=5
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --repetitions) repetitions=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--repetitions N]" >&2; exit 2 ;;
  esac
done
programs="qapi_e2e_bench qapi_footprint_bench qapi_tick_bench qapi_cmdr_bench"
if [ -z "$build" ]; then
  build=$here/build/bench
  "$here/scripts/ensure-deps.sh"
  (cd "$here" && cmake --preset bench >/dev/null)
fi
# shellcheck disable=SC2086
cmake --build "$build" -j 2 --target $programs >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for program in $programs; do
  set -- --benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true
  # The footprint is measured once, in a process of its own.
  [ "$program" != qapi_footprint_bench ] || set --
  echo "running $program" >&2
  if ! "$here/tests/support/netns-run.sh" "$build/bench/$program" "$@" \
    --benchmark_out="$work/$program.json" --benchmark_out_format=json >/dev/null 2>"$work/errors"; then
    cat "$work/errors" >&2
    exit 1
  fi
  reports="${reports:-} $work/$program.json"
done
# shellcheck disable=SC2086
python3 "$here/scripts/bench_table.py" $reports
