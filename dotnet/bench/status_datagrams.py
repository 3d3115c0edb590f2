"""Writes the station datagrams that scripts/bench-dotnet.sh replays to both
consumers: DATAGRAMS datagrams of extension status broadcasts, each with one
record for every extension from FIRST to FIRST + COUNT - 1, back to back in
FILE (each datagram COUNT * 12 bytes).  Record i of datagram k carries the
status 10 + (7k + i) % 240: never below 10, so the simulator's own reports
(0 to 3) are told apart.

  status_datagrams.py FILE DATAGRAMS FIRST COUNT
"""
import struct
import sys


def main():
    path, datagrams, first, count = sys.argv[1], *map(int, sys.argv[2:5])
    if count * 12 > 1024:
        sys.exit("status_datagrams: a station datagram holds at most 1024 bytes (85 records)")
    with open(path, "wb") as out:
        for k in range(datagrams):
            for i in range(count):
                # destination -1 (every host), type 0xC3, unused, status, length 2, extension
                out.write(struct.pack("<iBBBBi", -1, 0xC3, 0, 10 + (7 * k + i) % 240, 2, first + i))


if __name__ == "__main__":
    main()
