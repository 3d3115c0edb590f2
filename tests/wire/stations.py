"""What the scenarios read from the driver's events and the simulator's log
about stations."""

import re

ANSWER_KEY = 167  # the feature code of the answer key


def snapshots(driver, station):
    return driver.events(station=station, event="snapshot")


def registered(driver, stations):
    return all(driver.snapshot.get(s, {}).get("regState") == 1 for s in stations)


def start_stations(driver, stations, checks=None):
    for s in stations:
        driver.command(f"start {s}")
    for _ in range(10):
        driver.run(1)
        if registered(driver, stations):
            break
    if checks:
        checks.expect(registered(driver, stations), f"stations {stations} registered")


def taken_requests(sim_lines, station):
    """What the server carried out of the station's queued requests, in order:
    "deflect 900001", "feature key 167" ..."""
    pattern = re.compile(rf"^station {station}: request 0x[0-9A-F]{{2}} (.*?)( \(\d+ never seen before it\))?$")
    return [m[1] for m in map(pattern.match, sim_lines) if m and not m[1].startswith("again")]


class Supervision:
    """Each station's registration requests and keep-alives as the server's
    log shows them, and whether an answer went back: a request the path
    lost, or whose every answer the path lost, went unanswered."""

    def __init__(self, sim_lines, stations):
        self.answers = {s: [] for s in stations}  # per request: answers sent minus answers lost
        copies = {}  # a duplicated request: copies still to come
        for line in sim_lines:
            if m := re.match(r"fault: in (lost|duplicated): station (\d+) (keep-alive|registration)$", line):
                s = int(m[2])
                if m[1] == "lost":
                    self.answers[s].append(0)
                else:
                    copies[s] = 2
            elif m := re.match(r"station (\d+): (keep-alive answered|registered)", line):
                s = int(m[1])
                if copies.get(s) == 1:
                    self.answers[s][-1] += 1
                else:
                    self.answers[s].append(1)
                copies[s] = copies.get(s, 0) - 1 if copies.get(s) else 0
            elif m := re.match(r"fault: out lost: station (\d+) (status reply|registration reply)$", line):
                self.answers[int(m[1])][-1] -= 1
        self.requests = sum(len(a) for a in self.answers.values())
        self.unanswered = sum(1 for a in self.answers.values() for n in a if n <= 0)

    def expected_failures(self, station):
        """A station fails when three supervision requests in a row go
        unanswered; after that it starts again with a registration."""
        failures = run = 0
        for n in self.answers[station]:
            run = 0 if n > 0 else run + 1
            if run == 3:
                failures += 1
                run = 0
        return failures

    def trace(self, station):
        """"+" answered, "-" unanswered, one per request."""
        return "".join("+" if n > 0 else "-" for n in self.answers[station])
