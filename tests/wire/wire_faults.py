#!/usr/bin/env python3
"""Faults on the wire, end to end: the library (in qapi-wire-driver) against
qapi-sim on a second network namespace.

  wire_faults.py SCENARIO|all --sim PATH --driver PATH [--seconds N] [--seed N]

Scenarios:
  station-faults  loss, duplication, reordering and delay on the station path
  server-restart  the server restarts in the middle of calls
  feed-segments   100,000 call records over a stream cut into small segments
  adjunct-vanish  the adjunct server falls silent, then vanishes
  station-flood   oversize and foreign datagrams flood the station group
  desktop         a call on a desktop's network (default route, name on 127.0.1.1)
  two-interfaces  a call on a host whose group is routed over its second interface

Every scenario runs the library on a desktop's network: a default route
and no route for the station group, a host name that means 127.0.1.1.
--seconds lengthens the faulty part of station-faults (and the number of
records of feed-segments) for long runs.  It makes its own private network
namespaces (in a user namespace of its own when not run by root).  Exit
status 0 when every check held."""

import argparse
import sys
import time

sys.dont_write_bytecode = True  # the scenarios run from the source tree: leave it as it is

from wirelab import Checks, Lab, enter_private_namespace
from scenario_station import station_faults, server_restart, station_flood
from scenario_links import adjunct_vanish, feed_segments
from scenario_topology import desktop, two_interfaces

SCENARIOS = {
    "station-faults": station_faults,
    "server-restart": server_restart,
    "feed-segments": feed_segments,
    "adjunct-vanish": adjunct_vanish,
    "station-flood": station_flood,
    "desktop": desktop,
    "two-interfaces": two_interfaces,
}
# The hosts a scenario runs on (all others: a desktop's).
TOPOLOGIES = {"two-interfaces": "two-interfaces"}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("scenario", choices=list(SCENARIOS) + ["all"])
    parser.add_argument("--sim", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--seconds", type=int, default=0, help="a longer run (station-faults, feed-segments)")
    parser.add_argument("--seed", type=int, default=int(time.time()) % 100000)
    args = parser.parse_args()
    enter_private_namespace()
    names = list(SCENARIOS) if args.scenario == "all" else [args.scenario]
    ok = True
    for name in names:
        began = time.monotonic()
        checks = Checks(name)
        with Lab(args.sim, args.driver, TOPOLOGIES.get(name, "desktop")) as lab:
            try:
                SCENARIOS[name](lab, checks, args)
            except AssertionError as e:
                checks.expect(False, str(e))
        ok = checks.report(time.monotonic() - began) and ok
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
