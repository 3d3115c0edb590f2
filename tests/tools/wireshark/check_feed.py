#!/usr/bin/env python3
"""A call-record feed whose records the simulator writes in pieces of 1 to
200 bytes over segments of at most 88 bytes, on a port other than the
call-record stream's own, captured on the loopback of a private network
namespace and read through the dissectors with Decode As: every record is
reassembled from its segments, whole, in order, and as the library decoded
it (the console's records), and every byte the console sent is a poll,
whichever of the connection's two ports Decode As names.

    check_feed.py SIM CONSOLE    (inside a private network namespace)
"""
import json
import os
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # run from the source tree: leave it as it is

from cdr_oracle import check_records, records_in
from tshark import Capture, Checks, dissect, expect_clean, labels, require_tools

RECORDS = 300
PORT = 7005  # not the preference's 7001: decoded by Decode As
SEGMENT = 88


def run_feed(sim, console, pcap):
    # One segment a packet: the capture then holds the segments as sent,
    # not the loopback's aggregates of them.
    subprocess.run(["ip", "link", "set", "dev", "lo", "gso_max_segs", "1"], check=True)
    capture = Capture("lo", pcap)
    log = tempfile.TemporaryFile(mode="w+")
    server = subprocess.Popen([sim, "--feed-port", str(PORT), "--listen-address", "127.0.0.1", "--feed-records",
                               str(RECORDS), "--records-per-poll", "100", "--feed-chunk", "200", "--feed-mss",
                               str(SEGMENT), "--seconds", "30"], stdin=subprocess.DEVNULL, stdout=log, text=True)
    try:
        deadline = time.monotonic() + 10
        while log.seek(0) == 0 and "sim: ready" not in log.read():
            if server.poll() is not None or time.monotonic() > deadline:
                sys.exit("the simulator did not start")
            time.sleep(0.05)
        client = subprocess.run([console, "--feed", "127.0.0.1:%d" % PORT, "--format", "json", "--seconds", "4",
                                 "--no-stdin"], capture_output=True, text=True, timeout=30)
    finally:
        server.kill()
        server.wait()
    capture.stop()
    if client.returncode != 0:
        sys.exit("the console ended with status %d: %s" % (client.returncode, client.stderr))
    return [json.loads(line) for line in client.stdout.splitlines()]


def main():
    sim, console = sys.argv[1:3]
    require_tools()
    with tempfile.TemporaryDirectory() as work:
        pcap = os.path.join(work, "feed.pcapng")
        notes = run_feed(sim, console, pcap)
        packets = dissect(pcap, "-d", "tcp.port==%d,qcdr" % PORT)
        client_port = next(p.value("tcp.srcport") for p in packets if p.value("tcp.dstport") == str(PORT))
        by_client_port = dissect(pcap, "-d", "tcp.port==%s,qcdr" % client_port)
    checks = Checks()
    expect_clean(checks, packets)
    printed = [n for n in notes if n["event"] == "record"]
    checks.equal(len(printed), RECORDS, "records the console printed")
    count = check_records(checks, packets, printed)
    sizes = [int(p.value("tcp.len")) for p in packets if p.value("tcp.srcport") == str(PORT)]
    checks.expect(sizes and max(sizes) <= SEGMENT, "segments of at most %d bytes: %s" % (SEGMENT, max(sizes or [0])))
    spans = [int(p.value("tcp.segment.count", "1")) for p, _ in records_in(packets)]
    checks.expect(spans and min(spans) >= 2, "every record reassembled from two segments or more")
    lengths = {p.value("tcp.reassembled.length") for p, _ in records_in(packets)}
    checks.equal(lengths, {"154"}, "reassembled from exactly the record's bytes")
    to_server = [p for p in packets if p.value("tcp.dstport") == str(PORT)]
    sent = sum(int(p.value("tcp.len")) for p in to_server)
    polls = [f.show for p in to_server for proto in p.ours() for f in proto.all("qcdr.poll")]
    checks.expect(sent and polls == ["0x58"] * sent, "the console's %d bytes shown as polls: %s" % (sent, polls))
    checks.expect(labels(by_client_port) == labels(packets), "decoded alike with Decode As on the console's port")
    checks.end("%d records reassembled from %d segments of at most %d bytes (each from %d to %d segments), %d polls"
               % (count, len(sizes), max(sizes or [0]), min(spans or [0]), max(spans or [0]), len(polls)))


main()
