#!/bin/sh
# Runs the contract program (dotnet/tests/Contract), published self-contained
# for win-x64 or win-x86, under Wine against the Windows DLL and qapi-sim on
# a second host: this script's private network and mount namespaces (Wine's
# host, 10.78.0.1, whose name means that address) and the simulator's,
# joined by a veth pair (dotnet/tests/sim-host.sh).  32-bit programs run in
# Wine's WoW64 mode (scripts/install-wine-wow64.sh).  The last line says
# "contract passed", "contract FAILED ..." or "not run: WHY".
#   wine-contract.sh win-x64|win-x86
set -eu
rid=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
# Wine's WoW64 mode runs 32-bit code in a 64-bit process, in the 32-bit user
# code segment, which some kernels and hypervisors do not give processes: a
# machine without it runs no 32-bit program at all.  The probe switches to
# that segment and back (tests/windows/runs32.c, as wine-run.sh does).
no_32bit_code() {
  probe=$(mktemp)
  why=
  if cc -O1 -no-pie -static -o "$probe" "$root/tests/windows/runs32.c" 2>/dev/null && ! "$probe"; then
    why="no 32-bit code segment for Wine's WoW64 mode; a -m32 program fails with Exec format error"
  fi
  rm -f "$probe"
  [ -n "$why" ] && echo "$why"
}
if [ "${QAPI_WINE_CONTRACT_INSIDE:-}" != 1 ]; then
  if [ "$rid" = win-x86 ] && why=$(no_32bit_code); then
    echo "not run: this host runs no 32-bit code ($why)"
    exit 0
  fi
  out=$root/build/dotnet/wine/$rid
  dotnet publish "$root/dotnet/tests/Contract" -c Release -r "$rid" --self-contained -o "$out" --nologo -v quiet >&2
  namespaces="--net --mount"
  [ "$(id -u)" = 0 ] || namespaces="--user --map-root-user --net --mount"
  QAPI_WINE_CONTRACT_INSIDE=1 exec unshare $namespaces "$0" "$@"
fi
. "$root/dotnet/tests/sim-host.sh"
program=$root/build/dotnet/wine/$rid/Contract.exe
work=$(mktemp -d)
cleanup() {
  [ -z "${sim:-}" ] || kill "$sim" 2>/dev/null || true
  sim_host_down
  [ -z "${WINESERVER:-}" ] || "$WINESERVER" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The two hosts.
sim_host_up
# Windows takes this host's address from its name: here the name means the
# veth's address (a hosts file of this mount namespace's own).
printf '127.0.0.1 localhost\n10.78.0.1 %s\n' "$(hostname)" >"$work/hosts"
mount --make-rprivate /
mount --bind "$work/hosts" /etc/hosts

# The simulator, driven through a fifo.
mkfifo "$work/sim.in"
nsenter --net="$sim_netns" "$root/build/plain/apps/sim/qapi-sim" --station-port 5001 --feed-port 7001 --feed-records 3 --records-per-poll 2 \
  --adjunct-port 7002 --listen-address 10.78.0.2 --seconds 120 <"$work/sim.in" >"$work/sim.log" 2>&1 &
sim=$!
exec 3>"$work/sim.in"
until grep -q '^sim: ready' "$work/sim.log"; do sleep 0.05; done

# Wine: a prefix of its own; Wine's mscoree stays on for the program (the
# runtime loads its IL-only assemblies through it), off while the prefix is
# made (no offer to fetch Mono).
pe=$(od -An -tu4 -j60 -N4 "$program" | tr -d ' ')
if [ "$(od -An -tx2 -j$((pe + 4)) -N2 "$program" | tr -d ' ')" = 014c ]; then
  tree=${QAPI_WINE_WOW64:-/opt/qapi-wine-wow64}
  wine=$tree/lib/wine/wine64
  export WINESERVER="$tree/lib/wine/wineserver" WINEDLLPATH="$tree/lib/x86_64-linux-gnu/wine"
else
  wine=/usr/lib/wine/wine64
  export WINESERVER=/usr/lib/wine/wineserver
fi
[ -x "$wine" ] || { echo "not run: $wine is missing (scripts/test-windows.sh installs Wine and its WoW64 tree)"; exit 0; }
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot --init >/dev/null 2>&1
WINEDLLOVERRIDES="mshtml=" "$wine" "$program" 10.78.0.2 "${QAPI_WINE_CONTRACT_SECONDS:-60}" >"$work/contract.log" 2>&1 &
contract=$!
waited=0
until grep -q '^registered' "$work/contract.log" || ! kill -0 $contract 2>/dev/null || [ $waited -ge 600 ]; do
  sleep 0.1
  waited=$((waited + 1))
done
echo "ring 17 4711" >&3
echo "route 4711 17 4711 17" >&3
wait $contract || true
cat "$work/contract.log" "$work/sim.log" >&2
if grep -q '^contract passed' "$work/contract.log"; then
  echo "contract passed"
elif [ ! -s "$work/contract.log" ] || grep -q 'could not be started' "$work/contract.log"; then
  # Wine's exit status says nothing: is it this program, or every program of this kind?
  printf '#include <stdio.h>\nint main(void) { puts("probe ran"); return 0; }\n' >"$work/probe.c"
  compiler=x86_64-w64-mingw32-gcc
  [ "$rid" = win-x64 ] || compiler=i686-w64-mingw32-gcc
  "$compiler" "$work/probe.c" -o "$work/probe.exe"
  if "$wine" "$work/probe.exe" 2>&1 | grep -q 'probe ran'; then
    echo "contract FAILED: Wine could not start the .NET program, but starts a plain C program of the same kind"
  else
    echo "not run: Wine cannot start any $rid program on this machine (a plain C program fails the same way)"
  fi
else
  echo "contract FAILED: $(tail -1 "$work/contract.log")"
fi
