"""The station path on the hosts users have: a desktop whose name means
127.0.1.1 and whose only route is its default route, and a host with two
interfaces whose station group is routed over the second."""

import re

from stations import registered, snapshots, start_stations
from wirelab import LIBRARY_ADDRESS, STATION_PORT


def a_call_and_what_the_station_watches(lab, checks):
    """Station 17 registers, watches extension 18, rings and is answered;
    the watched extension's status and the park list reach it."""
    sim = lab.sim("--station-port", STATION_PORT)
    drv = lab.driver(pace_ms=5)
    start_stations(drv, [17], checks)
    checks.expect(any(re.match(rf"station 17: registered .*records to {LIBRARY_ADDRESS}\)$", line) for line in sim.lines),
                  f"the server addresses the station's records to {LIBRARY_ADDRESS}")
    drv.command("watch 17 18")
    drv.run(5)
    sim.send("ring 17 4711")
    drv.run(3)
    checks.expect(any(e["isAlerting"] for e in snapshots(drv, 17)), "station 17 rang")
    checks.expect(drv.command("answer 17").get("accepted"), "the application answered")
    sim.wait_for(lambda line: line == "station 17: connected with 4711")
    drv.run(3)
    checks.expect(drv.snapshot[17]["callState"] not in (0, 6), f"station 17 in the call: {drv.snapshot[17]}")
    sim.send("extension 18 2", "park 4712")
    drv.run(5)
    checks.expect(any(line.startswith("station 17 watches 18") for line in sim.lines), "the server knows the watch")
    checks.expect(any(e["extension"] == 18 and e["status"] == 2 for e in drv.events(station=17, event="extension")),
                  "extension 18's status reached the station")
    checks.expect(any(any("4712" in line for line in e["lines"]) for e in drv.events(station=17, event="parked")),
                  "the park list reached the station")
    checks.expect(registered(drv, [17]), "station 17 still registered")
    drv.quit()
    sim.quit()


def desktop(lab, checks, args):
    """A desktop: the library answers to its link's address and reaches the
    group through its default route."""
    a_call_and_what_the_station_watches(lab, checks)


def two_interfaces(lab, checks, args):
    """Two interfaces, the group routed over the second: the library answers
    to, joins and sends on the second, and nothing goes out on the first."""
    a_call_and_what_the_station_watches(lab, checks)
    received = lab.lan_ipv4_received()
    checks.expect(received == 0, f"the first interface's host received {received} IPv4 packets")
