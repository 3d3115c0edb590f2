#!/usr/bin/env python3
"""Runs the demo with a capture of its veth pair and reads the capture
through the dissectors: every station record and request, call record and
adjunct datagram is checked against what the console printed (what the
library made of the same bytes) and what the simulator logged.

    check_demo.py DEMO SIM CONSOLE
"""
import json
import os
import re
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # run from the source tree: leave it as it is

from cdr_oracle import check_records
from tshark import Checks, dissect, expect_clean, require_tools


def run_demo(demo, sim, console, pcap):
    env = dict(os.environ, QAPI_SIM=sim, QAPI_CONSOLE=console)
    run = subprocess.run([demo, "--json", "--pcap", pcap], env=env, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, text=True, errors="replace", timeout=60)
    print(run.stdout)
    if run.returncode != 0:
        sys.exit("the demo ended with status %d" % run.returncode)
    console_part, sim_part = run.stdout.split("=== console ===\n", 1)[-1].split("=== simulator ===\n", 1)
    return [json.loads(line) for line in console_part.splitlines()], sim_part.splitlines()


def station_items(packets):
    """The station protocol's requests and records in capture order."""
    items = []
    for p in packets:
        for proto in p.ours():
            if proto.name == "qstation":
                items += [c for c in proto.children if c.name in ("qstation.request", "qstation.record")]
    return items


def deduped(values):
    return [v for i, v in enumerate(values) if i == 0 or values[i - 1] != v]


def check_station(checks, packets, notes, sim_lines):
    items = station_items(packets)
    records = [i for i in items if i.name == "qstation.record"]
    requests = [i for i in items if i.name == "qstation.request"]
    station = next(n["station"] for n in notes if n.get("what") == "start" and n["source"] == "station")
    snapshots = [n for n in notes if n["event"] == "snapshot" and n.get("station") == station]
    mine = [r for r in records if r.own("qstation.station") == str(station)]

    def of_type(code):
        return [r for r in mine if r.own("qstation.type") == code]

    registrations = [r for r in requests if r.own("qstation.req.type") == "1"]
    checks.expect(registrations and registrations[0].own("qstation.station") == str(station),
                  "a registration request for station %d" % station)
    replies = of_type("0x81")
    if checks.expect(replies, "a registration reply"):
        reply, first = replies[0], snapshots[0]
        checks.equal(int(reply.own("qstation.state")), first["callState"], "the reply's call state")
        checks.equal([int(r.show) for r in reply.all("qstation.reg_value")], first["regValues"], "registration values")
        checks.equal(int(reply.own("qstation.reg_short")), first["regShort"], "registration short")
        token = reply.own("qstation.token")
        later = requests[requests.index(registrations[-1]) + 1:] if registrations else []
        checks.expect(later, "requests after the registration")
        for r in later:
            checks.equal(r.own("qstation.token"), token, "the token of a %s request" % r.own("qstation.req.type"))

    checks.equal([r.own("qstation.text") for r in of_type("0xc8")],
                 [n["text"] for n in notes if n["event"] == "text"], "display texts")
    checks.equal([r.own("qstation.number") for r in of_type("0xc2")],
                 [n["number"] for n in notes if n["event"] == "number"], "numbers")
    # The call states the records lead to, and those the snapshots show.
    led = [int(r.own("qstation.state")) for r in replies[:1]]
    led += [int(r.own("qstation.event.leads_to")) for r in mine if r.own("qstation.event.leads_to") is not None]
    checks.equal(deduped(led), deduped([s["callState"] for s in snapshots]), "call states")
    alerting = next((r for r in mine if r.own("qstation.event.leads_to") == "6"), None)
    if checks.expect(alerting is not None, "a call event that rings the station"):
        checks.equal(alerting.value("qstation.flags.call_allowed") == "1",
                     next(s["canAnswer"] for s in snapshots if s["isAlerting"]), "answer allowed while ringing")

    # The call list after each call entry, as the lines the dissector shows.
    listed, lists = {}, []
    for r in of_type("0xc6"):
        number, line = r.own("qstation.call.number"), r.own("qstation.call.line")
        if line.startswith("(not listed"):
            listed.pop(number, None)
        else:
            listed[number] = line
        lists.append(list(listed.values()))
    checks.equal(lists, [n["lines"] for n in notes if n["event"] == "calls"], "call lists")
    parks = [[e.own("qstation.park.line") for e in r.all("qstation.park.entry")] for r in records
             if r.own("qstation.type") == "0xc5"]
    checks.equal(parks[:1], [n["lines"] for n in notes if n["event"] == "parked"][:1], "park list")

    answers = [r for r in requests if r.own("qstation.req.feature") == "167"]
    checks.expect(any(n.get("what") == "answer" and n["accepted"] for n in notes), "the console answered")
    if checks.expect(answers, "an answer request"):
        sequence = answers[0].first("qstation.seq")
        checks.equal((sequence.show, sequence.own("qstation.seq.queued"), sequence.own("qstation.seq.slot")),
                     ("0x81", "1", "1"), "the answer's sequence byte")
        after = items[items.index(answers[0]):]
        checks.expect(any(r in mine and r.own("qstation.type") == "0xbf" and r.value("qstation.seq") == "0x81"
                          for r in after), "the answer acknowledged")
    hosts = {r.own("qstation.dest") for r in records if r.own("qstation.dest") != "255.255.255.255"}
    logged = {m.group(1) for line in sim_lines for m in [re.search(r"records to ([0-9.]+)", line)] if m}
    checks.equal(hosts, logged or hosts, "the destination of the records for a host")
    return len(items)


def check_adjunct(checks, packets, notes):
    datagrams = [proto for p in packets for proto in p.ours() if proto.name == "qadjunct"]
    types = [d.own("qadjunct.type") for d in datagrams]
    checks.expect("0x01" in types and "0x81" in types, "keep-alive and reply")
    asked = [n for n in notes if n["event"] == "route-request"]
    requests = [d for d in datagrams if d.own("qadjunct.type") == "0x41"]
    checks.equal(len(requests), len(asked), "route requests")
    for d, n in zip(requests, asked):
        date = d.first("qadjunct.date")
        got = {part: int(date.own("qadjunct.date." + part)) for part in ("second", "minute", "hour", "day", "month")}
        got.update(year=int(date.own("qadjunct.date.year")) + 2000, numberA=int(d.own("qadjunct.number_a")),
                   numberB=int(d.own("qadjunct.number_b")), textA=d.own("qadjunct.digits_a"),
                   textB=d.own("qadjunct.digits_b"), id=int(d.own("qadjunct.request_id")))
        wanted = {k: n[k] for k in ("second", "minute", "hour", "day", "month", "year", "numberA", "numberB",
                                    "textA", "textB")}
        wanted["id"] = n["handle"] & 0xFFFF
        checks.equal(got, wanted, "route request")
    answered = [re.match(r'answer 0x([0-9A-Fa-f]+) with "([^"]*)" value (-?\d+)$', n["what"]) for n in notes
                if n["source"] == "adjunct" and n["event"] == "result" and n["what"].startswith("answer")]
    responses = [d for d in datagrams if d.own("qadjunct.type") == "0xc1"]
    checks.equal([(int(d.own("qadjunct.request_id")), d.own("qadjunct.digits"), int(d.own("qadjunct.value")))
                  for d in responses],
                 [(int(m.group(1), 16) & 0xFFFF, m.group(2), int(m.group(3))) for m in answered if m],
                 "route responses")
    return len(datagrams)


def main():
    demo, sim, console = sys.argv[1:4]
    require_tools()
    with tempfile.TemporaryDirectory() as work:
        pcap = os.path.join(work, "demo.pcapng")
        notes, sim_lines = run_demo(demo, sim, console, pcap)
        packets = dissect(pcap)
    checks = Checks()
    expect_clean(checks, packets)
    stations = check_station(checks, packets, notes, sim_lines)
    records = check_records(checks, packets, [n for n in notes if n["source"] == "feed" and n["event"] == "record"])
    polls = [f.show for p in packets for proto in p.ours() for f in proto.all("qcdr.poll")]
    checks.expect(polls and set(polls) == {"0x58"}, "the feed's polls: %s" % polls)
    links = check_adjunct(checks, packets, notes)
    checks.end("%d frames: %d station requests and records, %d call records, %d polls, %d adjunct datagrams"
               % (len(packets), stations, records, len(polls), links))


main()
