#!/usr/bin/env python3
"""A station client inside an asyncio program, through ctypes alone.

The program loads libqapi.so, starts one station client and hands the
message layer's queue descriptor (qmsgQueueFd) to the event loop with
loop.add_reader.  Whenever the descriptor is readable, the reader takes what
waits with qmsgPeekMessage, which also runs the library's 100 ms timer, and
prints the station's notifications.  It never calls qmsgGetMessage.

    asyncio_station.py [--station ID] [--port PORT] [--heartbeats N]

The library is QAPI_LIBRARY when set, else build/plain/libqapi.so of this
tree when built, else libqapi.so from the system's library path.

A station client sends its registration to the station multicast group: run
the program inside a private network namespace unless a call server on this
network is meant to hear it (see epoll_station.c).
"""
import argparse
import asyncio
import ctypes
import os
import sys
import time

QAPI_NOTIFY_MSG = 49000
QAPI_NOTIFY_SNAPSHOT = 1
QAPI_NOTIFY_HEARTBEAT = 1000


class QMessage(ctypes.Structure):
    _fields_ = [("window", ctypes.c_uint32), ("message", ctypes.c_uint32),
                ("wParam", ctypes.c_size_t), ("lParam", ctypes.c_ssize_t)]


class SnapshotHead(ctypes.Structure):
    """The first fields of QapiStatusSnapshot, all this program reads."""
    _fields_ = [("regState", ctypes.c_int32), ("statusText", ctypes.c_char_p),
                ("callState", ctypes.c_uint8)]


def load_library():
    path = os.environ.get("QAPI_LIBRARY")
    if not path:
        built = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build", "plain", "libqapi.so")
        path = built if os.path.exists(built) else "libqapi.so"
    lib = ctypes.CDLL(path)
    for name, result, args in (
            ("QAPI_Stack_initialize", ctypes.c_int, [ctypes.c_uint32]),
            ("QAPI_Stack_release", None, []),
            ("QAPI_Client_start", ctypes.c_void_p, [ctypes.c_uint32, ctypes.c_int32]),
            ("QAPI_Client_stop", ctypes.c_int, [ctypes.c_void_p]),
            ("qmsgCreateWindow", ctypes.c_uint32, []),
            ("qmsgQueueFd", ctypes.c_int, []),
            ("qmsgPeekMessage", ctypes.c_int, [ctypes.POINTER(QMessage)])):
        function = getattr(lib, name)
        function.restype = result
        function.argtypes = args
    return lib


async def run(lib, station, port, heartbeats):
    start = time.monotonic()
    if lib.QAPI_Stack_initialize(port) != 0:
        sys.exit("asyncio_station: the library did not start")
    client = lib.QAPI_Client_start(lib.qmsgCreateWindow(), station)
    fd = lib.qmsgQueueFd()
    if not client or fd < 0:
        sys.exit(f"asyncio_station: could not start station {station}")

    loop = asyncio.get_running_loop()
    done = loop.create_future()
    counts = {"beats": 0, "wake-ups": 0}
    message = QMessage()

    def take():
        counts["wake-ups"] += 1
        while lib.qmsgPeekMessage(ctypes.byref(message)):
            if message.message != QAPI_NOTIFY_MSG:
                continue
            if message.wParam == QAPI_NOTIFY_HEARTBEAT:
                counts["beats"] += 1
                elapsed = int((time.monotonic() - start) * 1000)
                print(f"station {station}: heartbeat {counts['beats']} after {elapsed} ms", flush=True)
                if counts["beats"] == heartbeats and not done.done():
                    done.set_result(None)
            elif message.wParam == QAPI_NOTIFY_SNAPSHOT:
                s = ctypes.cast(message.lParam, ctypes.POINTER(SnapshotHead)).contents
                text = (s.statusText or b"").decode("latin-1")
                print(f'station {station}: snapshot reg={s.regState} call={s.callState} text="{text}"', flush=True)
            else:
                print(f"station {station}: notification {message.wParam} value {message.lParam}", flush=True)

    loop.add_reader(fd, take)
    try:
        await done
    finally:
        loop.remove_reader(fd)
        lib.QAPI_Client_stop(client)
        lib.QAPI_Stack_release()
    print(f"asyncio_station: {counts['beats']} heartbeats, {counts['wake-ups']} wake-ups", flush=True)


def main():
    parser = argparse.ArgumentParser(description="A station client in an asyncio loop.")
    parser.add_argument("--station", type=int, default=17)
    parser.add_argument("--port", type=int, default=5001)
    parser.add_argument("--heartbeats", type=int, default=0, help="end after N heartbeats (0: run until interrupted)")
    args = parser.parse_args()
    asyncio.run(run(load_library(), args.station, args.port, args.heartbeats))


if __name__ == "__main__":
    main()
