#!/usr/bin/env python3
"""Broken datagrams and call records sent over the loopback of a private
network namespace, captured and read through the dissectors: each
hand-made case shows the expert infos it must, hundreds of randomly mutated
datagrams and a stream of randomly damaged records decode without a Lua
error, and so does the whole capture cut to 60 bytes a frame.  The ports
follow their preferences and Decode As.

    check_mutated.py    (inside a private network namespace)
"""
import os
import random
import re
import socket
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # run from the source tree: leave it as it is

import mutations
from cdr_oracle import records_in
from tshark import Capture, Checks, dissect, experts, faults, info_column, labels, require_tools

STATION_PORT, FEED_PORT, ADJUNCT_PORT, OTHER_PORT = 5001, 7001, 7002, 5999
RANDOM_DATAGRAMS = 400
SEED = 23


def send_datagrams(port, datagrams):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sink, \
            socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as out:
        sink.bind(("127.0.0.1", port))  # so that no port-unreachable answers them
        sink.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 20)
        for d in datagrams:
            out.sendto(d, ("127.0.0.1", port))


def send_stream(records, pieces, polls):
    """One connection: the server writes `records` in pieces of the sizes
    `pieces` draws, the client sends `polls`; both then close."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as listener:
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", FEED_PORT))
        listener.listen(1)
        with socket.create_connection(("127.0.0.1", FEED_PORT)) as client:
            server, _ = listener.accept()
            with server:
                server.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                client.sendall(polls)
                heard = b""
                while len(heard) < len(polls):  # read: a close with unread bytes would reset
                    heard += server.recv(64)
                data, at = b"".join(records), 0
                while at < len(data):
                    size = pieces()
                    server.sendall(data[at:at + size])
                    at += size
            while client.recv(65536):
                pass


def check_fields(checks, node, fields, what):
    """Each field as `fields` wants it: one value (its first occurrence) or
    a list (all of them)."""
    for name, wanted in fields.items():
        shown = [n.show for n in node.all(name)]
        checks.equal(shown if isinstance(wanted, list) else shown[:1], wanted if isinstance(wanted, list) else [wanted],
                     "%s: %s" % (what, name))


def check_cases(checks, frames, cases, what):
    checks.equal(len(frames), len(cases), what + " frames")
    for frame, (data, wanted, fields) in zip(frames, cases):
        where = "%s frame %d" % (what, frame.number())
        got = {name for name, _ in experts(frame)}
        checks.equal(int(frame.value("udp.length")) - 8, len(data), where + ": its size")
        checks.expect(wanted <= got if wanted else not got,
                      "%s: expert infos %s, wanted %s" % (where, sorted(got), sorted(wanted)))
        check_fields(checks, frame, fields, where)


def main():
    require_tools()
    rng = random.Random(SEED)
    damaged = [bytearray(mutations.call_record(kind=rng.randrange(64))) for _ in range(30)]
    for r in damaged[1::2]:
        r[rng.randrange(154)] ^= 1 << rng.randrange(8)
    checks = Checks()
    with tempfile.TemporaryDirectory() as work:
        pcap, cut = os.path.join(work, "mutated.pcapng"), os.path.join(work, "cut.pcapng")
        capture = Capture("lo", pcap)
        send_datagrams(STATION_PORT, [case[0] for case in mutations.STATION_CASES])
        send_datagrams(ADJUNCT_PORT, [case[0] for case in mutations.ADJUNCT_CASES])
        send_datagrams(OTHER_PORT, [mutations.STATION_CASES[0][0]])
        send_stream([case[0] for case in mutations.RECORD_CASES] + [b"\xff" * 100], lambda: 4096, b"\x58\x41")
        send_stream([bytes(r) for r in damaged], lambda: rng.randrange(1, 300), b"\x58")
        send_datagrams(STATION_PORT, mutations.mutated(SEED, RANDOM_DATAGRAMS))
        send_datagrams(ADJUNCT_PORT, mutations.mutated(SEED + 1, RANDOM_DATAGRAMS // 4))
        capture.stop()
        packets = dissect(pcap)
        subprocess.run(["editcap", "-s", "60", pcap, cut], check=True)
        cut_packets = dissect(cut)
        unassembled = dissect(pcap, "-o", "tcp.desegment_tcp_streams:FALSE", "-Y", "tcp")
        only_other = ("-Y", "udp.dstport==%d" % OTHER_PORT)
        by_pref = dissect(pcap, "-o", "qstation.port:%d" % OTHER_PORT, *only_other)
        by_decode_as = dissect(pcap, "-d", "udp.port==%d,qstation" % OTHER_PORT, *only_other)
        installed = dissect(pcap, "-c", str(len(mutations.STATION_CASES)), installed=True)
        infos = info_column(pcap) + info_column(cut) + info_column(pcap, "-o", "tcp.desegment_tcp_streams:FALSE")

    for fault in faults(packets, malformed=True) + faults(cut_packets, malformed=True) + faults(unassembled, True):
        checks.expect(False, fault)

    def to(port, within=packets):
        return [p for p in within if p.value("udp.dstport") == str(port)]

    station, links = to(STATION_PORT), to(ADJUNCT_PORT)
    check_cases(checks, station[:len(mutations.STATION_CASES)], mutations.STATION_CASES, "station")
    check_cases(checks, links[:len(mutations.ADJUNCT_CASES)], mutations.ADJUNCT_CASES, "adjunct")
    checks.expect(all(p.ours() for p in station + links), "every station and adjunct datagram dissected")
    checks.expect(any(name.endswith(".cut") for p in cut_packets for name, _ in experts(p)),
                  "frames cut by the capture noted")

    streams, frames = {}, {}
    for packet, record in records_in(packets):
        streams.setdefault(packet.value("tcp.stream"), []).append(record)
        frames.setdefault(packet.value("tcp.stream"), set()).add(packet.number())
    cases, random_records = streams.get("0", []), streams.get("1", [])
    checks.equal(len(frames.get("0", ())), 1, "hand-made records, written at once, in one segment")
    checks.equal(len(cases), len(mutations.RECORD_CASES), "hand-made records reassembled")
    for i, (record, (_, wanted, fields)) in enumerate(zip(cases, mutations.RECORD_CASES)):
        got = {name for name, _ in experts(record)}
        checks.equal(got, wanted, "record %d: expert infos" % (i + 1))
        check_fields(checks, record, fields, "record %d" % (i + 1))
        checks.equal(record.value("qcdr.valid"), "0" if wanted - {"qcdr.date.out_of_range"} else "1",
                     "record %d: whole" % (i + 1))
    checks.equal(len(random_records), len(damaged), "damaged records reassembled")
    checks.equal(sum(r.value("qcdr.valid") == "1" for r in random_records), len(damaged[0::2]),
                 "damaged records found whole")
    polls = [(f.show, {n for n, _ in experts(f)}) for p in packets for proto in p.ours() for f in proto.all("qcdr.poll")]
    checks.equal(polls, [("0x58", set()), ("0x41", {"qcdr.not_poll"}), ("0x58", set())], "poll bytes")

    # What a short or broken packet lacks is left out, never shown as Lua's nil.
    texts = infos + labels(packets) + labels(cut_packets) + labels(unassembled)
    checks.equal([t for t in texts if re.search(r"\bnil\b", t)], [], "texts that show a nil")

    checks.expect(labels(installed) and labels(installed) == labels(packets[:len(installed)]),
                  "the dissectors copied into the plugin folder decode as they do from the command line")
    for name, view in (("default", packets), ("preference", by_pref), ("Decode As", by_decode_as)):
        other = to(OTHER_PORT, view)
        checks.equal([bool(p.ours()) for p in other], [name != "default"], "port %d, %s" % (OTHER_PORT, name))
    checks.expect(any(name == "qcdr.part" for p in unassembled for name, _ in experts(p)),
                  "parts of records shown as such when TCP does not reassemble")
    checks.end("%d station and %d adjunct datagrams, %d call records on two streams, %d frames cut to 60 bytes"
               % (len(station), len(links), len(cases) + len(random_records), len(cut_packets)))


main()
