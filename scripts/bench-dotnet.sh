#!/bin/sh
# The .NET binding's cost per notification beside a C consumer's, in one
# run: the same library, the same datagrams, the same rounds (one tick of
# the manual clock, then every notification taken), timing the tick and the
# taking.  C takes them with qmsgPeekMessage and copies each payload
# (dotnet/bench/c_consumer.c); .NET through the binding: the pump, the copy
# into an immutable object, the channel, read dry (dotnet/bench).
#
# Station datagrams: two stations registered with qapi-sim (on a second
# host, joined by a veth pair) watch 80 extensions each; before each round
# the consumer multicasts 30 datagrams of 80 extension statuses (made once
# by dotnet/bench/status_datagrams.py) with a time to live of 0, which only
# its own host's station port receives: 4,800 notifications a round, what
# one tick may post (5,000 less its reserves).  Call records: the
# simulator's feed, 960 records a poll.  Each pair runs RUNS
# times, C and .NET in turn, and the medians are compared: the processor
# time of every thread of the consumer's process over the timed rounds (what
# a notification costs, however busy the machine), and beside it their wall
# time.  Goals: the binding at most 2x C's processor time per notification
# and at most one allocation per notification.  Then a station operation's
# round trip through its Task.
#   bench-dotnet.sh [ROUNDS] [RUNS]     (default 200 timed rounds, 3 runs)
set -eu
cd "$(dirname "$0")/.."
rounds=${1:-200}
runs=${2:-3}
if [ "${QAPI_BENCH_INSIDE:-}" != 1 ]; then
  cmake --preset linux >/dev/null
  cmake --build --preset linux -j 2 --target qapi qapi-sim
  mkdir -p build/dotnet/bench
  cc -O2 -std=c11 -Iinclude -Ibuild/plain/include dotnet/bench/c_consumer.c -o build/dotnet/bench/c_consumer \
    -Lbuild/plain -lqapi -Wl,-rpath,"$PWD/build/plain"
  dotnet build dotnet/bench -c Release --nologo -v quiet
  QAPI_BENCH_INSIDE=1 exec tests/support/netns-run.sh "$0" "$@"
fi
. dotnet/tests/sim-host.sh
work=$(mktemp -d)
sim=
trap '[ -z "$sim" ] || kill "$sim" 2>/dev/null; sim_host_down; rm -rf "$work"' EXIT
sim_host_up

datagrams=30 first=1000 extensions=80 stations="17 18" warmup=100
records=$((rounds * 960)) record_warmup=9600
python3 dotnet/bench/status_datagrams.py "$work/datagrams" $datagrams $first $extensions
c=build/dotnet/bench/c_consumer
net="env QAPI_LIBRARY=$PWD/build/plain/libqapi.so.0 dotnet build/dotnet/bin/Bench/Release/net10.0/Bench.dll"

# One consumer's run against a simulator of its own.
run() {
  nsenter --net="$sim_netns" build/plain/apps/sim/qapi-sim --station-port 5001 --feed-port 7001 --feed-records $((records + record_warmup)) \
    --records-per-poll 960 --listen-address 10.78.0.2 --seconds 600 </dev/null >"$work/sim.log" 2>&1 &
  sim=$!
  until grep -q '^sim: ready' "$work/sim.log"; do sleep 0.05; done
  "$@" >>"$work/out" || { cat "$work/sim.log" >&2; exit 1; }
  kill $sim; wait $sim 2>/dev/null || true
  sim=
}
for _ in $(seq "$runs"); do
  # shellcheck disable=SC2086
  run $c stations "$work/datagrams" $warmup "$rounds" $first $extensions $stations
  # shellcheck disable=SC2086
  run $net stations "$work/datagrams" $warmup "$rounds" $first $extensions $stations
done
for _ in $(seq "$runs"); do
  run $c records 10.78.0.2 $record_warmup "$records"
  run $net records 10.78.0.2 $record_warmup "$records"
done
cat "$work/out"

per_round=$((datagrams * extensions * $(echo $stations | wc -w)))
awk -v runs="$runs" -v per_round=$per_round -v rounds="$rounds" -v warmup=$warmup -v records="$records" -v record_warmup=$record_warmup '
  function value(name,   i) { for (i = 1; i < NF; i++) if ($i == name) return $(i + 1); return "" }
  function median(list,   n, a, i, j, t) {
    n = split(list, a, " ")
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] + 0 < a[i] + 0) { t = a[i]; a[i] = a[j]; a[j] = t }
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
  }
  $1 == "dotnet" && $2 == "round_trip_us" { trip = trip " " $3; next }
  {
    key = $1 " " $2
    wall[key] = wall[key] " " value("us_per_notification")
    cpu[key] = cpu[key] " " value("cpu_us_per_notification")
    if ($1 == "dotnet") { bytes[$2] = bytes[$2] " " value("bytes_per_notification"); object[$2] = value("object_bytes") }
    timed = $2 == "stations" ? rounds * per_round : value("notifications")
    all = $2 == "stations" ? (warmup + rounds) * per_round : records + record_warmup
    if (value("all") != all || value("notifications") != timed) {
      printf "%s took %s notifications of %s (%s timed of %s)\n", key, value("all"), all, value("notifications"), timed; bad = 1
    }
    if (sum[$2] != "" && sum[$2] != value("checksum")) { printf "%s: checksum %s, another run %s\n", key, value("checksum"), sum[$2]; bad = 1 }
    sum[$2] = value("checksum")
  }
  END {
    printf "\nper notification, microseconds, median of %d runs  %8s %8s %6s   %8s %8s %6s\n", runs, "C cpu", ".NET cpu", "ratio", "C wall", ".NET wall", "ratio"
    split("stations records", modes, " ")
    label["stations"] = "extension statuses (4,800 a tick)"
    label["records"] = "call records (960 a tick)"
    for (m = 1; m <= 2; m++) {
      mode = modes[m]
      cc = median(cpu["c " mode]); nc = median(cpu["dotnet " mode]); cw = median(wall["c " mode]); nw = median(wall["dotnet " mode])
      printf "%-50s %8.3f %8.3f %6.2f   %8.3f %8.3f %6.2f   goal <= 2: %s\n", label[mode], cc, nc, nc / cc, cw, nw, nw / cw,
        nc / cc <= 2 ? "met" : "NOT met"
    }
    for (m = 1; m <= 2; m++) {
      mode = modes[m]; b = median(bytes[mode])
      printf "%-50s %8.2f   goal <= 1: %s (%.1f bytes; one %d-byte object)\n", ".NET allocations per notification, " mode, b / object[mode],
        b / object[mode] <= 1.05 ? "met" : "NOT met", b, object[mode]
    }
    printf "%-50s %8.2f\n", ".NET round trip of a station operation (us)", median(trip)
    exit bad
  }' "$work/out"
