"""Multicasts extension status broadcasts the way a busy call server does:
`count` extensions from `first`, each changing `rate` times a second, for
`seconds`.  Change k of every extension carries the status 10 + k % 240, so
that a status names the change it came from.  The extensions are spread
over ten slots a round; each slot's changes travel in one datagram.  At the
end it prints, as JSON, the time of every slot sent: [[time, round, slot], ...].

Run it only inside a private network namespace (the tests do).
"""
import argparse
import json
import socket
import struct
import time

GROUP = "224.3.3.3"
SLOTS = 10


def status_of(change):
    return 10 + change % 240


def record(extension, status):
    # destination -1 (broadcast), type 0xC3, unused, status, length 2, extension
    return struct.pack("<iBBBBi", -1, 0xC3, 0, status, 2, extension)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, default=5001)
    p.add_argument("--first", type=int, required=True)
    p.add_argument("--count", type=int, required=True)
    p.add_argument("--rate", type=int, default=10)
    p.add_argument("--seconds", type=float, default=10)
    o = p.parse_args()
    out = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    out.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
    period = 1.0 / o.rate / SLOTS
    rounds = int(o.seconds * o.rate)
    log = []
    start = time.time() + 0.05
    for step in range(rounds * SLOTS):
        change, slot = divmod(step, SLOTS)
        delay = start + step * period - time.time()
        if delay > 0:
            time.sleep(delay)
        datagram = b"".join(record(o.first + i, status_of(change)) for i in range(slot, o.count, SLOTS))
        out.sendto(datagram, (GROUP, o.port))
        log.append([time.time(), change, slot])
    print(json.dumps(log))


if __name__ == "__main__":
    main()
