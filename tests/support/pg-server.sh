#!/bin/sh
# A PostgreSQL 15 server of a test's own, in a folder of its own, listening
# on 127.0.0.1 only (inside the test's network namespace) and on a Unix
# socket in that folder.  It runs as an unprivileged user (initdb refuses
# root): as root, as "nobody", who is given the folder (and may pass
# through the folder that holds it).
#
#   pg-server.sh start DIR PORT   initialises DIR/data on first use, starts
#                                 the server and prints its URL
#   pg-server.sh stop DIR         stops it (fast: open connections are cut)
#
# QAPI_PG_FSYNC=on makes it write through to the disk (the tests leave it
# off: their data is thrown away).
#
# Exits 77 when no server can be run here (no PostgreSQL 15, or a user
# namespace without a second user to run it as).
set -eu
bin=${QAPI_PG_BIN:-/usr/lib/postgresql/15/bin}
action=$1 dir=$2
[ -x "$bin/initdb" ] || { echo "pg-server: no PostgreSQL in $bin" >&2; exit 77; }

as_owner() {
  if [ "$(id -u)" = 0 ]; then
    setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"
  else
    "$@"
  fi
}

case $action in
start)
  port=$3
  mkdir -p "$dir"
  if [ "$(id -u)" = 0 ]; then
    chown nobody:nogroup "$dir"
    chmod o+x "$(dirname "$dir")"  # the test's folder: nobody passes through to its own
    as_owner true 2>/dev/null || { echo "pg-server: cannot run as nobody here" >&2; exit 77; }
  fi
  if [ ! -f "$dir/data/PG_VERSION" ]; then
    as_owner "$bin/initdb" -D "$dir/data" -U qapi --auth=trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 ||
      { cat "$dir/initdb.log" >&2; exit 1; }
  fi
  as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-c listen_addresses=127.0.0.1 -p $port -k $dir -c fsync=${QAPI_PG_FSYNC:-off}" start >/dev/null ||
    { cat "$dir/server.log" >&2; exit 1; }
  echo "postgresql://qapi@127.0.0.1:$port/postgres"
  ;;
stop)
  as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null
  ;;
*)
  echo "usage: $0 start DIR PORT | stop DIR" >&2
  exit 2
  ;;
esac
