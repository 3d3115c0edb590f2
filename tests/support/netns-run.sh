#!/bin/sh
# Runs a test program inside a private network namespace with only a
# loopback interface that carries multicast: nothing the test sends can
# leave the machine.  As root it makes only the network namespace; as any
# other user it first makes a user namespace in which that user is root, so
# that a package build or an unprivileged developer runs the same tests.
namespaces=--net
[ "$(id -u)" = 0 ] || namespaces="--user --map-root-user --net"
exec unshare $namespaces sh -c '
  ip link set lo up &&
  ip link set lo multicast on &&
  ip route add 224.0.0.0/4 dev lo &&
  exec "$@"' netns-run "$@"
