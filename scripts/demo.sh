#!/bin/sh
# Runs qapi-sim and qapi-console on two private network namespaces joined by
# a veth pair, for a few seconds, and prints what the console saw.
#
#   scripts/demo.sh [--build DIR] [--seconds N] [--json] [--cdr-csv FILE] [--pcap FILE]
#   scripts/demo.sh --panel [--build DIR] [--seconds N] [--pcap FILE]
#
# --json shows the console's lines as JSON objects; --cdr-csv has the
# console append the call records to FILE; --pcap writes what crosses the
# console's end of the veth pair to FILE (pcapng, with dumpcap).  --panel
# runs the operator panel (qapi-panel) instead of the console, on
# 127.0.0.1:8080 inside the console's namespace, against an hour of a busy
# switchboard (or N seconds), and prints how to look at it from this machine.
#
# The console's namespace is a fresh one made for this run (qtcon,
# 10.78.0.1), set up as a desktop that Debian or Ubuntu installed: its only
# route beyond its link is the default route (through the simulator's
# host), it has no route for the station group, and its host name
# (qapi-desktop) means 127.0.1.1 in its hosts file.  The simulator's
# namespace is another (qtsim, 10.78.0.2), which routes the station group
# over its end of the veth pair.  Nothing leaves the two namespaces, and
# both vanish when the run ends.  Run by any user but root, both live
# inside a user namespace of the run's own, in which that user is root.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build/plain
seconds=
format=text
csv=
pcap=
panel=
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --json) format=json; shift ;;
    --cdr-csv) csv=$2; shift 2 ;;
    --pcap) pcap=$2; shift 2 ;;
    --panel) panel=1; shift ;;
    *) echo "usage: $0 [--build DIR] [--seconds N] [--json] [--cdr-csv FILE] [--pcap FILE] [--panel]" >&2; exit 2 ;;
  esac
done
[ -n "$seconds" ] || seconds=${panel:+3600}
[ -n "$seconds" ] || seconds=8
sim=${QAPI_SIM:-$build/apps/sim/qapi-sim}
if [ -z "${QAPI_SIM:-}" ] && [ ! -x "$sim" ] && [ "$build" = "$here/build/plain" ]; then
  # A fresh checkout: install what is missing and build first.
  "$here/scripts/ensure-deps.sh"
  cmake -S "$here" -B "$build" -DQAPI_BENCH=OFF >/dev/null
  cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target qapi-sim qapi-console >/dev/null
fi
console=${QAPI_CONSOLE:-$build/apps/console/qapi-console}
for program in "$sim" "$console"; do
  [ -n "$panel" ] && [ "$program" = "$console" ] && continue
  [ -x "$program" ] || { echo "demo: $program is missing: build first" >&2; exit 2; }
done
if [ -n "$pcap" ] && ! command -v dumpcap >/dev/null 2>&1; then
  echo "demo: --pcap needs dumpcap (Debian's tshark brings it)" >&2; exit 2
fi

# Everything below runs in a network namespace of its own.
if [ "${QAPI_DEMO_INSIDE:-}" != 1 ]; then
  set -- --seconds "$seconds"
  [ "$format" = text ] || set -- "$@" --json
  [ -z "$csv" ] || set -- "$@" --cdr-csv "$csv"
  [ -z "$pcap" ] || set -- "$@" --pcap "$pcap"
  [ -z "$panel" ] || set -- "$@" --panel
  namespaces="--net --mount --uts"
  [ "$(id -u)" = 0 ] || namespaces="--user --map-root-user $namespaces"
  QAPI_DEMO_INSIDE=1 QAPI_SIM=$sim QAPI_CONSOLE=$console exec unshare $namespaces "$0" "$@"
fi

work=$(mktemp -d)
holder= simpid= capture= panelpid=
cleanup() {
  set +e
  if [ -n "$panelpid" ]; then kill "$panelpid" 2>/dev/null; fi
  if [ -n "$simpid" ]; then
    # $simpid is the subshell that runs nsenter: the simulator is its child.
    kill $(cat "/proc/$simpid/task/$simpid/children" 2>/dev/null) "$simpid" 2>/dev/null
  fi
  if [ -n "$capture" ]; then kill "$capture" 2>/dev/null; fi
  if [ -n "$holder" ]; then kill "$holder" 2>/dev/null; fi
  wait 2>/dev/null
  umount /etc/hosts 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
[ -z "$panel" ] || trap 'exit 0' INT TERM

# The simulator's namespace: held open by a sleeping process.
unshare --net sleep 600 </dev/null >/dev/null 2>&1 &
holder=$!
tries=0
while [ "$(readlink /proc/$holder/ns/net 2>/dev/null)" = "$(readlink /proc/self/ns/net)" ]; do
  tries=$((tries + 1)); [ $tries -lt 100 ] || { echo "demo: no namespace for the simulator" >&2; exit 1; }
  sleep 0.05
done
in_sim() { nsenter --net=/proc/$holder/ns/net "$@"; }

# A desktop's name and hosts file, in this run's own mount and UTS
# namespaces (private: nothing outside sees them).
printf '127.0.0.1 localhost\n127.0.1.1 qapi-desktop\n' > "$work/hosts"
mount --bind "$work/hosts" /etc/hosts
hostname qapi-desktop

ip link set lo up
ip link add qtcon type veth peer name qtsim
ip link set qtsim netns "$holder"
ip addr add 10.78.0.1/24 dev qtcon
ip link set qtcon up
ip route add default via 10.78.0.2
in_sim ip link set lo up
in_sim ip addr add 10.78.0.2/24 dev qtsim
in_sim ip link set qtsim up
in_sim ip route add 224.0.0.0/4 dev qtsim
# The kernel starts a device's queue a moment after it comes up ("qdisc
# noop" until then), and drops what is sent before: wait for both ends.
active() { "$@" | grep ' state UP ' | grep -qv ' qdisc noop '; }
tries=0
until active ip -o link show dev qtcon && active in_sim ip -o link show dev qtsim; do
  tries=$((tries + 1)); [ $tries -lt 500 ] || { echo "demo: the veth pair did not come up" >&2; exit 1; }
  sleep 0.01
done

# The capture, on the console's end of the pair, from before the first
# datagram: dumpcap names its file once the interface is open.
if [ -n "$pcap" ]; then
  dumpcap -q -i qtcon -w "$pcap" 2>"$work/dumpcap.log" &
  capture=$!
  tries=0
  until grep -q '^File: ' "$work/dumpcap.log" 2>/dev/null; do
    tries=$((tries + 1))
    if [ $tries -ge 200 ] || ! kill -0 "$capture" 2>/dev/null; then
      echo "demo: dumpcap did not start:" >&2; cat "$work/dumpcap.log" >&2; exit 1
    fi
    sleep 0.05
  done
fi

cat > "$work/script" <<'SCRIPT'
wait registered 17
display 17 Good morning
ring 17 4711
park 4712
wait adjunct
route 4711 17 4711 17
wait answered
wait polls 3
sleep 1
hangup 17
sleep 1
quit
SCRIPT
[ -z "$panel" ] || "$here/scripts/panel-day.sh" "$seconds" > "$work/script"

in_sim "$sim" --station-port 5001 --feed-port 7001 --feed-records 3 --records-per-poll 2 \
  --adjunct-port 7002 --listen-address 10.78.0.2 --script "$work/script" --seconds "$seconds" \
  </dev/null >"$work/sim.log" 2>&1 &
simpid=$!
tries=0
until grep -q '^sim: ready' "$work/sim.log" 2>/dev/null; do
  tries=$((tries + 1))
  if [ $tries -ge 100 ] || ! kill -0 "$simpid" 2>/dev/null; then
    echo "demo: the simulator did not start:" >&2; cat "$work/sim.log" >&2; exit 1
  fi
  sleep 0.05
done

if [ -n "$panel" ]; then
  QAPI_LIBRARY=${QAPI_LIBRARY:-$build/libqapi.so} PYTHONPATH=$here/python${PYTHONPATH:+:$PYTHONPATH} \
    /usr/bin/python3 -m qapi.panel --station 17 --watch 17,201-231 --feed 10.78.0.2:7001 \
    --link 10.78.0.2:7002 --listen 127.0.0.1:8080 &
  panelpid=$!
  enter="nsenter --target $$ --net"
  [ "$(id -u)" = 0 ] || enter="nsenter --target $$ --user --net --preserve-credentials"
  cat <<EOF
demo: the panel serves http://127.0.0.1:8080/ inside the demo's network namespace, for $seconds seconds.
To look at it from this machine, forward a port of its loopback into it (socat: apt-get install socat):
  socat TCP-LISTEN:8080,bind=127.0.0.1,reuseaddr,fork EXEC:'$enter socat STDIO TCP\:127.0.0.1\:8080'
and open http://127.0.0.1:8080/.  Ctrl-C ends the demo.
EOF
  while kill -0 "$simpid" 2>/dev/null && kill -0 "$panelpid" 2>/dev/null; do sleep 0.5; done
  kill "$panelpid" 2>/dev/null
  wait "$panelpid" 2>/dev/null
  exit 0
fi

# The console reads its commands from a pipe that closes once the
# simulator's script has ended (and a second later): its end quits it.
set +e
{
  # The application's side: answer the call once the station rings.
  tries=0
  until grep -q -E 'alerting=1|"isAlerting":true' "$work/console.log" 2>/dev/null; do
    tries=$((tries + 1)); [ $tries -lt 100 ] || break
    sleep 0.05
  done
  echo "answer 17"
  while kill -0 "$simpid" 2>/dev/null; do sleep 0.1; done
  sleep 1
} | "$console" --station 17 --feed 10.78.0.2:7001 --adjunct 10.78.0.2:7002 --route-answer 200 \
    --seconds "$seconds" --format "$format" ${csv:+--cdr-csv "$csv"} >"$work/console.log" 2>&1
status=$?
set -e
if [ -n "$capture" ]; then
  sleep 0.2  # what is still on its way
  kill -INT "$capture"
  wait "$capture" || status=1
  capture=
fi

echo "=== console ==="
cat "$work/console.log"
echo "=== simulator ==="
cat "$work/sim.log"
exit $status
