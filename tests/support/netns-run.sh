#!/bin/sh
# Runs a test program inside a private network namespace with only a
# loopback interface that carries multicast: nothing the test sends can
# leave the machine.  Needs root (CI and the test command run as root).
exec unshare --net sh -c '
  ip link set lo up &&
  ip link set lo multicast on &&
  ip route add 224.0.0.0/4 dev lo &&
  exec "$@"' netns-run "$@"
