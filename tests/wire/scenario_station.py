"""The station path under faults: a lossy, duplicating, reordering and slow
path; a server that restarts in the middle of calls; a flood of datagrams
that no station may take."""

import random
import re

from stations import (ANSWER_KEY, Supervision, registered, snapshots, start_stations, taken_requests)
from wirelab import STATION_PORT

# Ticks of the supervision (100 ms each).
FAILED_PAUSE = 451        # a failed station registers again on the 452nd tick
IDLE_KEEPALIVE = 60       # ticks between keep-alives while idle
CALL_KEEPALIVE = 15       # ... and in a call
REGISTER_SPACING = 60


def station_faults(lab, checks, args):
    """Stations, calls and requests over a path that loses, duplicates, delays
    and reorders datagrams both ways; then the faults stop.  Each station
    fails exactly when three of its supervision requests in a row went
    unanswered, comes back after the failed pause, and every request is
    carried out once: those a failure dropped never, the others all."""
    rng = random.Random(args.seed)
    pace, delay, jitter = 3, 2, 6  # milliseconds: a tick, the least and the most more a datagram is held
    late = 2 * (delay + jitter) // pace + 1  # ticks an answer may take
    fault_ticks = max(2000, args.seconds * 1000 // pace)
    sim = lab.sim("--station-port", STATION_PORT, "--fault-seed", args.seed,
                  "--loss", 15, "--duplicate", 10, "--reorder", 25, "--delay", delay, "--jitter", jitter)
    drv = lab.driver(pace_ms=pace)
    stations = list(range(17, 25))
    watches = {s: [stations[(i + 1) % len(stations)], stations[(i + 2) % len(stations)]]
               for i, s in enumerate(stations)}
    for s in stations:
        drv.command(f"start {s}")
        for e in watches[s]:
            drv.command(f"watch {s} {e}")
    ops = {s: [] for s in stations}  # (tick, what the server is to see) of every accepted request
    serial = 0
    in_call = {}                     # station -> tick its call began at the server

    def operate(tail):
        nonlocal serial
        for s in stations:
            last = drv.snapshot.get(s, {})
            if last.get("regState") != 1:
                continue
            if rng.random() < 0.3:
                serial += 1
                digits = f"9{serial:05d}"
                if drv.command(f"deflect {s} {digits}").get("accepted"):
                    ops[s].append((drv.tick, f"deflect {digits}"))
            if tail:
                continue
            if last.get("isAlerting") and rng.random() < 0.5:
                if drv.command(f"answer {s}").get("accepted"):
                    ops[s].append((drv.tick, f"feature key {ANSWER_KEY}"))
            if s not in in_call and rng.random() < 0.05:
                sim.send(f"ring {s} 4711")
                in_call[s] = drv.tick
            elif s in in_call and drv.tick - in_call[s] > rng.randint(30, 120):
                sim.send(f"hangup {s}")
                del in_call[s]

    while drv.tick < fault_ticks:
        operate(tail=False)
        drv.run(10)
    sim.command("faults off", lambda line: line.startswith("faults on the station path"))
    quiet_from = drv.tick
    for s in list(in_call):
        sim.send(f"hangup {s}")
    # A failure may still come from keep-alives lost just before, and then
    # the failed pause: after that every station is registered again.
    drv.run(IDLE_KEEPALIVE + FAILED_PAUSE + 3 * REGISTER_SPACING // 2)
    checks.expect(registered(drv, stations), "every station registered once the faults stopped")
    for _ in range(3):
        operate(tail=True)
        drv.run(20)
    told_from = drv.tick
    for e in stations:
        sim.send(f"extension {e} 1")
    drv.run(60)
    drv.quit()
    sim.quit()

    supervision = Supervision(sim.lines, stations)
    failures_seen = recovered = 0
    for s in stations:
        failed, back = check_failures(checks, s, snapshots(drv, s), supervision, late)
        failures_seen += len(failed)
        recovered += back
        check_requests(checks, s, sim.lines, ops[s], failed)
        # The server knows the station's watches from its last registration
        # on, and the station hears of them.
        last = max(i for i, line in enumerate(sim.lines) if re.match(rf"station {s}: registered", line))
        lists = [set(map(int, what.split()[2:])) for what in taken_requests(sim.lines[last:], s)
                 if what.startswith("watch list")]
        checks.expect(set(watches[s]) in lists, f"station {s} watches {watches[s]}; since its last registration "
                                                f"the server carried out the watch lists {lists}")
        told = {e["extension"] for e in drv.events(station=s, event="extension") if e["tick"] > told_from}
        checks.expect(told == set(watches[s]), f"station {s} watches {watches[s]}, hears of {sorted(told)}")
    repeats = sum(1 for line in sim.lines if re.search(r"^station \d+: request 0x.. again", line))
    summary = [line for line in sim.lines if line.startswith("faults in:") or line.startswith("faults out:")]
    accepted = sum(len(v) for v in ops.values())
    checks.expect(repeats > 0 and supervision.unanswered > 0, "the faults touched requests and supervision")
    checks.note(f"{len(stations)} stations, {drv.tick} ticks ({quiet_from} with faults)")
    checks.note(f"{supervision.requests} supervision requests, {supervision.unanswered} unanswered")
    checks.note(f"{failures_seen} failures (as predicted), {recovered} registered again after them")
    checks.note(f"{accepted} requests accepted and {sum(len(taken_requests(sim.lines, s)) for s in stations)} "
                f"carried out (watch lists included), {repeats} repetitions acknowledged again")
    checks.note(" / ".join(line[len("faults "):] for line in summary))


def check_failures(checks, s, shots, supervision, late):
    """A station fails exactly as often as three of its supervision requests
    in a row went unanswered.  After the failed pause its first registration
    goes out on the 452nd tick, and again 60 and 120 ticks later while
    unanswered; the third unanswered fails it again 180 ticks after the
    first.  Returns the failure ticks and how many were followed by a
    registration; `late` is how many ticks an answer may take."""
    failed = [e["tick"] for e in shots if e["regState"] == 2]
    checks.expect(len(failed) == supervision.expected_failures(s),
                  f"station {s}: {len(failed)} failures, but {supervision.expected_failures(s)} runs of three "
                  f"unanswered supervision requests: {supervision.trace(s)}")
    recovered = 0
    for f in failed:
        back = next((e["tick"] for e in shots if e["tick"] > f and e["regState"] == 1), None)
        again = next((t for t in failed if t > f), None)
        if again is not None and (back is None or again < back):
            checks.expect(abs(again - f - (FAILED_PAUSE + 1 + 3 * REGISTER_SPACING)) <= 1,
                          f"station {s} failed on tick {f} and, still unregistered, again on tick {again}")
        elif back is not None:
            recovered += 1
            waited = back - f - (FAILED_PAUSE + 2)
            checks.expect(any(0 <= waited - k * REGISTER_SPACING <= late for k in range(3)),
                          f"station {s} failed on tick {f} and registered again on tick {back}")
    return failed, recovered


def check_requests(checks, s, sim_lines, ops, failed):
    """The server carried out the station's requests at most once and in
    the order they were accepted; each one accepted is carried out unless
    the station failed after (its next registration empties the queue)."""
    taken = [what for what in taken_requests(sim_lines, s) if not what.startswith("watch list")]
    deflects = [what for what in taken if what.startswith("deflect")]
    checks.expect(len(deflects) == len(set(deflects)), f"station {s}: a deflection carried out twice: {taken}")
    wanted = iter(what for _, what in ops)
    checks.expect(all(what in wanted for what in taken), f"station {s}: carried out {taken}, asked for {ops}")
    for tick, what in ops:
        if what.startswith("deflect") and what not in deflects:
            checks.expect(any(f >= tick for f in failed),
                          f"station {s}: {what} accepted on tick {tick} never carried out, with no failure after")


def server_restart(lab, checks, args):
    """The server restarts while stations are in calls: each station fails
    when its keep-alives go unanswered (in a call after 60 ticks, idle after
    240), registers again after the failed pause, and its watches are
    registered with the new server, which reports the watched extensions."""
    server = ["--station-port", STATION_PORT]
    sim = lab.sim(*server)
    drv = lab.driver(pace_ms=5)
    stations = [17, 18, 19, 20]
    start_stations(drv, stations, checks)
    watches = {17: [18, 19], 18: [17], 19: [20], 20: [17, 18]}
    for s, extensions in watches.items():
        for e in extensions:
            drv.command(f"watch {s} {e}")
    drv.run(15)
    # 17 answers a call, 18 makes one, 19 rings, 20 stays idle.
    sim.send("ring 17 4711", "ring 19 4713")
    drv.command("newcall 18 4712")
    drv.run(3)
    drv.command("answer 17")
    sim.send("connect 18")
    drv.run(3)
    calls = {s: drv.snapshot[s]["callState"] for s in stations}
    checks.expect([calls[s] != 0 for s in stations] == [True, True, True, False],
                  f"three stations in calls before the restart: {calls}")
    for s, extensions in watches.items():
        seen = {e["extension"] for e in drv.events(station=s, event="extension")}
        checks.expect(seen == set(extensions), f"station {s} watches {extensions}, reported {sorted(seen)}")

    restart = drv.tick
    lab.peers.remove(sim)
    sim.stop(kill=True)
    sim = lab.sim(*server)
    drv.command("clear 17")  # queued while the server is gone: sent again and again, then dropped
    for _ in range(80):
        drv.run(10)
        back = [s for s in stations if any(e["tick"] > restart and e["regState"] == 1 for e in snapshots(drv, s))]
        if len(back) == len(stations) and all(
                any(e["tick"] > restart for e in drv.events(station=s, event="extension")) for s in stations):
            break
    drv.run(5)
    drv.quit()
    sim.quit()

    for s in stations:
        shots = [e for e in snapshots(drv, s) if e["tick"] > restart]
        failed = [e["tick"] for e in shots if e["regState"] == 2]
        back = [e for e in shots if e["regState"] == 1]
        if not checks.expect(failed and back, f"station {s} failed and came back: {shots}"):
            continue
        limit = CALL_KEEPALIVE if calls[s] else IDLE_KEEPALIVE
        checks.expect(3 * limit <= failed[0] - restart <= 4 * limit + 1,
                      f"station {s} (keep-alive every {limit} ticks) failed {failed[0] - restart} ticks after "
                      f"the restart")
        checks.expect(FAILED_PAUSE + 1 <= back[0]["tick"] - failed[0] <= FAILED_PAUSE + 3,
                      f"station {s} registered again {back[0]['tick'] - failed[0]} ticks after its failure")
        checks.expect(back[0]["callState"] == 0 and back[0]["canNewcall"],
                      f"station {s} is idle with the new server: {back[0]}")
        told = {e["extension"] for e in drv.events(station=s, event="extension") if e["tick"] > back[0]["tick"]}
        checks.expect(told == set(watches[s]), f"station {s} hears of {sorted(told)} again, watches {watches[s]}")
        lists = [line for line in sim.lines if line.startswith(f"station {s} watches")]
        checks.expect(lists and set(map(int, lists[-1].split()[3:])) == set(watches[s]),
                      f"the new server got station {s}'s watches: {lists}")
        checks.note(f"station {s}: failed +{failed[0] - restart}, back +{back[0]['tick'] - restart} ticks")
    ignored = sum(1 for line in sim.lines if "with unknown token" in line)
    checks.note(f"{ignored} requests and keep-alives of the old registrations ignored by the new server")


def station_flood(lab, checks, args):
    """Before every tick the server multicasts 40 datagrams that no station
    may take (longer than a station reads, for another host, for no station,
    random bytes) around one real display text: each real text arrives in
    the tick after it was sent, and nothing of the flood reaches a station."""
    beacons = 150
    sim = lab.sim("--station-port", STATION_PORT, "--fault-seed", args.seed)
    drv = lab.driver(pace_ms=5)
    start_stations(drv, [17, 18], checks)
    late = lost = 0
    for k in range(1, beacons + 1):
        start = len(sim.lines)
        sim.send("flood 20", f"display 17 beacon {k}", "flood 20")
        first = sim.wait_for(lambda line: line.startswith("flood:"), start)
        sim.wait_for(lambda line: line.startswith("flood:"), first + 1)
        texts = [e["text"] for e in drv.run(1) if e.get("event") == "text"]
        if f"beacon {k}" not in texts:
            texts = [e["text"] for e in drv.run(1) if e.get("event") == "text"]
            late += 1
            lost += f"beacon {k}" not in texts
    drv.run(IDLE_KEEPALIVE)  # the stations' keep-alives, answered through the flood
    drv.quit()
    sim.quit()
    foreign = [e for e in drv.events(event="text") if not e["text"].startswith("beacon")]
    failed = [e for e in drv.events(event="snapshot") if e["regState"] != 1]
    checks.expect(late == 0, f"{late} of {beacons} display texts came a tick late, {lost} never")
    checks.expect(not foreign, f"texts of the flood reached a station: {foreign[:3]}")
    checks.expect(not failed, f"a station left the registered state: {[(e['station'], e['tick']) for e in failed][:3]}")
    flood = sum(int(line.split()[1]) for line in sim.lines if line.startswith("flood:"))
    checks.note(f"{beacons} ticks, each with 40 flood datagrams around one real record ({flood} in all): "
                f"{beacons - late} real records in their tick, {late} late, {lost} lost")
