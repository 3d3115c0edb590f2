#!/bin/sh
# Runs a Windows program under Wine inside a private network namespace whose
# only interface is a loopback that carries multicast, as netns-run.sh does
# for Linux programs (and, like it, inside a user namespace of its own when
# not run by root).  Wine creates sockets in its wineserver, so the server
# must start inside the namespace too: each run gets a Wine prefix of its
# own in a temporary folder, initialised (wineboot) and served inside the
# namespace, and removed afterwards.  Nothing the program sends can leave the
# machine.  32-bit programs run in Wine's WoW64 mode (below).
#
#   wine-run.sh PROGRAM.exe [ARGUMENTS...]     exit status: the program's, but
#   0 too when it could not start: judge a run by what the program printed;
#   77 with "not run: this host runs no 32-bit code" for a 32-bit program on a
#   host that cannot run one
set -eu
if [ "${QAPI_WINE_INSIDE:-}" != 1 ]; then
  namespaces=--net
  [ "$(id -u)" = 0 ] || namespaces="--user --map-root-user --net"
  QAPI_WINE_INSIDE=1 exec unshare $namespaces "$0" "$@"
fi
ip link set lo up
ip link set lo multicast on
ip route add 224.0.0.0/4 dev lo

# A 32-bit program (machine 014c in its PE header) runs in Wine's WoW64 mode,
# through the tree of scripts/install-wine-wow64.sh; a 64-bit one through
# Debian's wine64.
pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' ')
if [ "$machine" = 014c ]; then
  # WoW64 runs 32-bit code in a 64-bit process, in the 32-bit user code
  # segment; some hypervisors give processes none (a -m32 program then fails
  # with "Exec format error").  On such a host nothing 32-bit can run: say so,
  # in the words the tests take for "skipped", rather than fail.
  probe=$(mktemp)
  if ${CC:-cc} -O1 -no-pie -static -o "$probe" "$(dirname "$0")/runs32.c" 2>/dev/null && ! "$probe"; then
    rm -f "$probe"
    echo "wine-run: not run: this host runs no 32-bit code (no 32-bit code segment for Wine's WoW64 mode)"
    exit 77
  fi
  rm -f "$probe"
  tree=${QAPI_WINE_WOW64:-/opt/qapi-wine-wow64}
  wine=$tree/lib/wine/wine64
  wineserver=$tree/lib/wine/wineserver
  [ -x "$wine" ] || { echo "wine-run: no WoW64 tree in $tree (scripts/install-wine-wow64.sh)" >&2; exit 2; }
  export WINESERVER="$wineserver" WINEDLLPATH="$tree/lib/x86_64-linux-gnu/wine"
else
  wine=$(command -v wine64 || true)
  [ -n "$wine" ] || wine=/usr/lib/wine/wine64
  wineserver=$(command -v wineserver || true)
  [ -n "$wineserver" ] || wineserver=/usr/lib/wine/wineserver
  [ -x "$wine" ] || { echo "wine-run: wine64 is missing" >&2; exit 2; }
fi

WINEPREFIX=$(mktemp -d)
export WINEPREFIX
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
# Quiet, and no offer to fetch Mono or Gecko.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$wine" wineboot --init >/dev/null 2>&1
set +e
"$wine" "$@"
status=$?
set -e
exit $status
