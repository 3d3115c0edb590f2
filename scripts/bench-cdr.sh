#!/bin/sh
# qapi-cdr's benchmark: 100,000 records through one feed, counted by the
# library alone and stored by the collector in SQLite and in PostgreSQL 15
# (a server of its own, writing through to the disk), in a private network
# namespace; prints one table.
#
#   scripts/bench-cdr.sh [--build DIR] [--records N]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build/plain
records=100000
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --records) records=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--records N]" >&2; exit 2 ;;
  esac
done
if [ ! -d "$build" ]; then
  "$here/scripts/ensure-deps.sh"
  (cd "$here" && cmake --preset linux >/dev/null)
fi
cmake --build "$build" -j 2 --target qapi_cdr_bench >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
# shellcheck disable=SC2016
"$here/tests/support/netns-run.sh" sh -c '
  here=$1 build=$2 work=$3 records=$4
  url=$(QAPI_PG_FSYNC=on "$here/tests/support/pg-server.sh" start "$work/pg" 5432) || url=
  [ -n "$url" ] || echo "no PostgreSQL server here: SQLite only" >&2
  status=0
  "$build/bench/cdr/qapi_cdr_bench" --records "$records" --folder "$work" ${url:+--postgres "$url"} || status=$?
  [ -z "$url" ] || "$here/tests/support/pg-server.sh" stop "$work/pg"
  exit $status' bench-cdr "$here" "$build" "$work" "$records"
