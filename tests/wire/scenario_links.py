"""The call-record feed over a stream cut into small segments, and the
routing adjunct's server falling silent and vanishing."""

from wirelab import ADJUNCT_PORT, FEED_PORT, SERVER_ADDRESS

KEEPALIVE_AFTER_REPLY = 200  # ticks from a keep-alive reply to the link's next keep-alive
SILENCE_TO_FAILURE = 60      # ticks from the first unanswered keep-alive to the failure
ANSWER_WINDOW = 50           # ticks a route request can be answered in


def expected_record(i):
    """The fields that tell the simulator's i-th record (from 0) from any
    other: kinds 5, 1 and 3 in turn, a minute apart from 10:30."""
    minute = 30 + i
    fields = {"hour": 10 + minute // 60 % 14, "minute": minute % 60}
    if i % 3 == 0:
        fields.update(kindLetter="F", numberC=i + 1, numberD=1000 + i, textA="4711")
    elif i % 3 == 1:
        fields.update(kindLetter="B", text=f"Call record note {i + 1}")
    else:
        fields.update(kindLetter="D", numberA=18, numberC=4712, textA="4712")
    return fields


def feed_segments(lab, checks, args):
    """100,000 call records, 5,000 for each poll (more payloads than the
    library's notification buffer holds at once), written in pieces of 1 to
    200 bytes, each sent at once, over a connection whose segments carry at
    most 88 bytes: every record arrives, whole, once and in order, and the
    feed never fails."""
    records = max(100000, args.seconds * 20000)
    sim = lab.sim("--feed-port", FEED_PORT, "--listen-address", SERVER_ADDRESS, "--feed-records", records,
                  "--records-per-poll", 5000, "--feed-chunk", 200, "--feed-mss", 88, "--fault-seed", args.seed)
    drv = lab.driver(pace_ms=1)
    checks.expect(drv.command(f"feed {SERVER_ADDRESS}:{FEED_PORT}").get("accepted"), "the feed started")
    count = 0
    for _ in range(records // 100):
        events = drv.run(10)
        count += sum(1 for e in events if e.get("event") == "record")
        if count >= records or any(e.get("event") == "status" for e in events):
            break
    drv.run(60)  # a poll or two more: nothing else may come
    drv.quit()
    sim.quit()
    got = drv.events(source="feed", event="record")
    status = drv.events(source="feed", event="status")
    checks.expect(not status, f"the feed failed: {status}")
    checks.expect(len(got) == records, f"{len(got)} records of {records} arrived")
    wrong = []
    for i, record in enumerate(got):
        fields = expected_record(i)
        if any(record.get(k) != v for k, v in fields.items()):
            wrong.append((i, {k: record.get(k) for k in fields}, fields))
    checks.expect(not wrong, f"{len(wrong)} records not as sent, first {wrong[:2]}")
    segments = [line for line in sim.lines if "segments of" in line and "client connected" in line]
    checks.expect(segments, "the connection's segments were small")
    polls = sum(1 for line in sim.lines if line.startswith("feed: poll"))
    checks.note(f"{len(got)} records in {got[-1]['tick'] if got else 0} ticks, {polls} polls answered; "
                f"{segments[0] if segments else ''}")


def adjunct_vanish(lab, checks, args):
    """The adjunct server stops hearing the link: the link fails 60 ticks
    after its first unanswered keep-alive, and a route request that came
    just before can no longer be answered.  A second link's server closes
    its socket: the link fails at its next keep-alive (the port refuses it),
    and again the pending route request is refused."""
    sim = lab.sim("--adjunct-port", ADJUNCT_PORT, "--listen-address", SERVER_ADDRESS)
    drv = lab.driver(pace_ms=5)
    target = f"{SERVER_ADDRESS}:{ADJUNCT_PORT}"

    def up_tick():
        start = drv.tick
        drv.command(f"adjunct {target}")
        for _ in range(10):
            drv.run(1)
            ups = [e for e in drv.events(source="adjunct", event="status") if e["state"] == 1 and e["tick"] > start]
            if ups:
                return ups[0]["tick"]
        raise AssertionError("the adjunct link did not come up")

    def route_request(after):
        sim.command("route 4711 17 4711 17", lambda line: line.startswith("adjunct: route request"))
        drv.run(1)
        got = [e for e in drv.events(source="adjunct", event="route-request") if e["tick"] > after]
        if not got:
            raise AssertionError("the route request did not reach the application")
        return got[-1]["handle"], got[-1]["tick"]

    def failure(after, pending, asked):
        """The tick the link fails on; the answer to the request still
        pending is refused after it."""
        for _ in range(KEEPALIVE_AFTER_REPLY + SILENCE_TO_FAILURE + 20):
            drv.run(1)
            failed = [e for e in drv.events(source="adjunct", event="status") if e["state"] == 2 and e["tick"] > after]
            if failed:
                break
        else:
            raise AssertionError("the adjunct link did not fail")
        checks.expect(failed[0]["statusText"] == "Connection to Quentara failed!", f"failure text: {failed[0]}")
        answer = drv.command(f"respond {pending} 200 0")
        checks.expect(failed[0]["tick"] - asked < ANSWER_WINDOW and not answer.get("accepted"),
                      f"the request of tick {asked}, still young, is refused after the failure on {failed[0]['tick']}")
        return failed[0]["tick"]

    # The server stops hearing the link.  The keep-alives it no longer hears
    # show when the link is to fail: 60 ticks after the first of them.
    up = up_tick()
    at = sim.command("adjunct deaf", lambda line: line.startswith("adjunct: deaf"))
    first = None

    def unheard(count):
        nonlocal first
        while sum(1 for line in sim.lines[at:] if line.startswith("adjunct: deaf:")) < count:
            drv.run(1)
            if first is None and any(line.startswith("adjunct: deaf:") for line in sim.lines[at:]):
                first = drv.tick

    unheard(2)
    answered, _ = route_request(drv.tick)
    checks.expect(drv.command(f"respond {answered} 200 0").get("accepted"),
                  "a route request answered while the link still stood")
    unheard(3)
    failed = failure(first, *route_request(drv.tick))
    checks.expect(abs(failed - first - SILENCE_TO_FAILURE) <= 1,
                  f"link up on tick {up}, first keep-alive unheard on {first}, failed on {failed}")
    checks.note(f"deaf server: link up on tick {up}, first keep-alive unheard on {first}, failed on {failed}, "
                f"the answer to a pending request refused")

    # A new link; its server closes the socket a while after the link came up.
    sim.command("adjunct hear", lambda line: line.startswith("adjunct: hearing"))
    up = up_tick()
    drv.run(KEEPALIVE_AFTER_REPLY - 30)
    pending = route_request(drv.tick)
    sim.command("adjunct vanish", lambda line: line.startswith("adjunct: socket closed"))
    gone = drv.tick
    failed = failure(gone, *pending)
    checks.expect(abs(failed - up - KEEPALIVE_AFTER_REPLY) <= 2,
                  f"link up on tick {up}, server gone on {gone}, failed on {failed}: at the next keep-alive")
    checks.note(f"vanished server: link up on tick {up}, socket closed on {gone}, failed on {failed} "
                f"(its next keep-alive), the answer to a pending request refused")
    drv.quit()
    sim.quit()
