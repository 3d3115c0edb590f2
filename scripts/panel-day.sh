#!/bin/sh
# Prints a qapi-sim script of SECONDS (3600) of a busy switchboard for the
# operator panel of scripts/demo.sh --panel: station 17 is the operator's,
# extensions 201 to 231 ring and talk, calls come in, are parked and hung
# up, call records arrive and the routing adjunct asks its questions.
seconds=${1:-3600}
echo "wait registered 17"
echo "display 17 Good morning"
echo "park 4712"
t=0 i=0
while [ "$t" -lt "$seconds" ]; do
  ringing=$((201 + i % 31)) busy=$((201 + (i * 7 + 3) % 31))
  echo "extension $ringing 2"
  echo "extension $busy 3"
  echo "sleep 2"
  echo "extension $ringing 1"
  case $((i % 10)) in
    0) echo "ring 17 $((4700 + i % 90))" ;;
    3) echo "records 2" ;;
    5) echo "hangup 17" ;;
    7) echo "route 4711 17 4711 17" ;;
    8) [ "$i" -lt 40 ] && echo "park $((4800 + i))" ;;
  esac
  echo "sleep 1"
  t=$((t + 3)) i=$((i + 1))
done
echo "quit"
