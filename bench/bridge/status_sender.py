"""Multicasts extension status broadcasts for the bridge's benchmark: COUNT
statuses of the extensions FIRST to FIRST+511 in turn, RATE a second, each
datagram holding the statuses of one step of PACK.  Run it only in a
private network namespace (the benchmark runs it in the simulator's).

    status_sender.py COUNT RATE [PACK]
"""
import socket
import struct
import sys
import time

FIRST, EXTENSIONS = 200, 512


def main():
    count, rate = int(sys.argv[1]), float(sys.argv[2])
    pack = int(sys.argv[3]) if len(sys.argv) > 3 else 64
    out = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    out.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
    start = time.monotonic()
    for first in range(0, count, pack):
        delay = start + first / rate - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        # Each: broadcast destination, type 0xC3, the status, length 2 words, the extension.
        records = [struct.pack("<iBBBBi", -1, 0xC3, 0, 1 + (n // EXTENSIONS) % 3, 2, FIRST + n % EXTENSIONS)
                   for n in range(first, min(count, first + pack))]
        out.sendto(b"".join(records), ("224.3.3.3", 5001))


if __name__ == "__main__":
    main()
