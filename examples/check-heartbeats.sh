#!/bin/sh
# Runs an example that prints a station's heartbeats until it has seen three,
# and checks that they reached it through its event loop at the pace of the
# library's timer (about one a second, never a burst) without the loop
# spinning.
#
#   check-heartbeats.sh [--never-imports SYMBOL BINARY] COMMAND...
#
# With --never-imports, also checks that BINARY does not import SYMBOL.
set -u
if [ "${1:-}" = --never-imports ]; then
  if nm -u "$3" | awk '{print $2}' | grep -qx "$2"; then
    echo "$3 imports $2"; exit 1
  fi
  shift 3
fi
beats=3
output=$(timeout 60 "$@" --heartbeats $beats 2>&1)
status=$?
output=$(printf '%s\n' "$output" | tr -d '\r')  # a Windows program ends its lines with CR LF
echo "$output"
[ $status -eq 0 ] || { echo "the example ended with status $status"; exit 1; }
printf '%s\n' "$output" | awk -v beats=$beats '
  / heartbeat [0-9]+ after [0-9]+ ms$/ {
    n = $(NF - 3); ms = $(NF - 1)
    # The library counts ten 100 ms ticks between heartbeats.
    if (n != ++seen) { print "heartbeat " n " out of order"; bad = 1 }
    if (ms < n * 1000 - 20) { print "heartbeat " n " after only " ms " ms"; bad = 1 }
  }
  / [0-9]+ heartbeats, [0-9]+ wake-ups$/ {
    summary = 1
    # About ten wake-ups a second (one per tick); a spinning loop makes thousands.
    if ($(NF - 1) > 40 * beats) { print "too many wake-ups: " $(NF - 1); bad = 1 }
  }
  END {
    if (seen != beats) { print "saw " seen + 0 " of " beats " heartbeats"; bad = 1 }
    if (!summary) { print "no summary line"; bad = 1 }
    exit bad
  }'
