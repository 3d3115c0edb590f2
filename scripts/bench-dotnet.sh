#!/bin/sh
# The .NET binding's cost beside C's, in one run, in a private network
# namespace: qapi-sim serves the same fixed stream of call records (960 a
# poll) to a C consumer (dotnet/bench/c_consumer.c: qmsgPeekMessage, each
# record copied out of its payload) and to the binding (dotnet/bench: the
# pump, the copy into a CallRecord, the channel, read dry by the caller),
# both on the manual clock, one tick a round, timing the ticks and the
# taking.  Goals: the binding at most 2x C's time per record and at most
# one allocation (one CallRecord) per record.  Then a station operation's
# round trip through its Task.
#   bench-dotnet.sh [RECORDS]     (default 100000)
set -eu
cd "$(dirname "$0")/.."
records=${1:-100000}
if [ "${QAPI_BENCH_INSIDE:-}" != 1 ]; then
  cmake --preset linux >/dev/null
  cmake --build --preset linux -j "$(nproc 2>/dev/null || echo 2)" --target qapi qapi-sim
  mkdir -p build/dotnet/bench
  cc -O2 -std=c11 -Iinclude -Ibuild/plain/include dotnet/bench/c_consumer.c -o build/dotnet/bench/c_consumer \
    -Lbuild/plain -lqapi -Wl,-rpath,"$PWD/build/plain"
  dotnet build dotnet/bench -c Release --nologo -v quiet
  QAPI_BENCH_INSIDE=1 exec tests/support/netns-run.sh "$0" "$@"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
serve() {
  build/plain/apps/sim/qapi-sim --station-port 5002 --feed-port 7001 --feed-records "$records" --records-per-poll 960 \
    --listen-address 127.0.0.1 --seconds 600 </dev/null >"$work/sim.log" 2>&1 &
  sim=$!
  until grep -q '^sim: ready' "$work/sim.log"; do sleep 0.05; done
}
serve
build/dotnet/bench/c_consumer 127.0.0.1 "$records" >"$work/c.out"
kill $sim; wait $sim 2>/dev/null || true
serve
QAPI_LIBRARY="$PWD/build/plain/libqapi.so.0" dotnet build/dotnet/bin/Bench/Release/net10.0/Bench.dll 127.0.0.1 "$records" >"$work/dotnet.out"
kill $sim; wait $sim 2>/dev/null || true
value() { sed -n "s/.* $2 \([0-9.]*\).*/\1/p" "$1" | head -1; }
c=$(value "$work/c.out" us_per_record)
net=$(value "$work/dotnet.out" us_per_record)
bytes=$(value "$work/dotnet.out" bytes_per_record)
trip=$(value "$work/dotnet.out" round_trip_us)
cat "$work/c.out" "$work/dotnet.out"
awk -v c="$c" -v net="$net" -v bytes="$bytes" -v trip="$trip" -v n="$records" 'BEGIN {
  printf "%-44s %12s %12s %8s\n", "per call record (" n " records)", "C", ".NET", "ratio"
  printf "%-44s %12.3f %12.3f %8.2f   goal <= 2: %s\n", "microseconds (tick + taking)", c, net, net / c, (net / c <= 2 ? "met" : "NOT met")
  printf "%-44s %12s %12.1f %8s   one CallRecord object: 296 bytes\n", "bytes allocated", "0", bytes, ""
  printf "%-44s %12s %12.2f\n", "round trip of a station operation (us)", "", trip
}'
