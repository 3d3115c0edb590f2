#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/.

Each seed is a script in the target's own encoding (see the target's
source): a few ordinary days of the station, the feed, the link and the dial
texts, from which the fuzzer mutates.  Run it again when an encoding
changes; the seeds in the tree are its output.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def u16(v):
    return struct.pack('<H', v & 0xFFFF)


def u32(v):
    return struct.pack('<I', v & 0xFFFFFFFF)


def text(s):
    b = s.encode('latin-1')
    assert len(b) < 48
    return bytes([len(b)]) + b


# ---- station: operations chosen by (byte % 11) ----
# Exported operations, chosen by (byte % 20): the feature keys first, then
# those with arguments.
ANSWER, CLEAR, HOLD = 0, 1, 2
NEWCALL, DIGITS, TAKE_BACK, DEFLECT, WATCH, RESUME, WATCH_MANY = 11, 12, 13, 14, 15, 18, 19
class Station:
    def __init__(self):
        self.b = b''

    def op(self, code, *parts):
        self.b += bytes([code]) + b''.join(parts)
        return self

    def start(self, slot, choice):  # choice < 0xF0: one of the stations of the slots
        return self.op(4, bytes([slot, choice]))

    def stop(self, slot):
        return self.op(5, bytes([slot]))

    def register(self, slot, state=0, token=0x5150AB01, flags=0x173, any_id=0):
        extra = bytes([any_id]) if slot == 6 else b''  # the slot whose client takes any identifier
        return self.op(2, bytes([slot, state]) + extra + u32(token) + u32(flags))

    def record(self, slot, type_, sub=0, extra=0, body=b''):
        assert len(body) % 4 == 0 and len(body) // 4 < 16
        return self.op(1, bytes([slot, type_, sub, extra, len(body) // 4]) + body)

    def ack(self, slot):
        return self.op(3, bytes([slot, 0]))

    def operate(self, slot, which, *args):
        return self.op(6, bytes([slot, which]) + b''.join(args))

    def ticks(self, b):  # < 0xE0: 1 + b % 8 ticks; < 0xF8: 60; else 460
        return self.op(7, bytes([b]))

    def extension(self, slot, index, status):
        return self.op(8, bytes([slot, index, status]))

    def park(self, entries):
        words = b''.join(u32(k) + u32(s) + u32(o) for k, s, o in entries)
        return self.op(9, bytes([len(entries)]) + words)

    def datagram(self, data):
        return self.op(0, u16(len(data)) + data)

    def read(self):  # the application reads its messages
        return self.op(10)


def event(word=0, server_state=0, ref=1, flags=0x101):
    return u16(word) + u16(0) + bytes([server_state, 0]) + u16(ref) + u32(flags)


def station_seeds():
    seeds = {}
    s = Station()
    for slot in range(8):
        s.start(slot, slot)
    # The client of slot 6 takes the first reply it sees, whatever the station: its own first.
    s.ticks(0).register(6, any_id=1).register(0).register(1).register(4)
    s.record(2, 0xBE, sub=1)  # refused
    s.ticks(3)
    s.operate(0, NEWCALL, text('12')).operate(0, DIGITS, text('345')).ticks(4).ack(0)
    s.operate(1, WATCH, bytes([0]), bytes([1])).operate(1, WATCH, bytes([1]), bytes([1])).ticks(7).ticks(2).ack(1)
    s.extension(1, 0, 2).extension(1, 1, 3)
    s.park([(0x701, 0x4711, 0), (0x702, 0x4712, 0), (0x703, 0x18, 0)])
    s.operate(4, RESUME, bytes([0])).ack(4)
    s.record(4, 0xC0, sub=6, body=event(server_state=6)).operate(4, ANSWER).ack(4)
    s.record(4, 0xC0, sub=8, body=event(server_state=10)).operate(4, HOLD).ack(4)
    s.record(4, 0xC8, extra=0, body=b'Hello from the server, station 4')
    s.record(4, 0xC2, body=bytes([4, 7, 1, 1] + [0xFF] * 24))
    s.record(4, 0xC6, sub=7, body=u16(42) + u16(0) + u32(0x11) + u32(0x22))
    s.record(4, 0xC7, body=u32(0x1F3)).record(4, 0x83, sub=10, body=u32(0x1F3))
    s.record(4, 0xC4, sub=5).record(4, 0xC1, sub=1, body=event(server_state=1))
    s.record(4, 0xC1, sub=2, body=event(word=5, server_state=1))
    s.record(4, 0xC0, sub=12, body=event(word=121)).record(4, 0xC0, sub=23, body=event(word=9))
    s.operate(4, CLEAR).ack(4).ticks(0x10)
    s.read().operate(0, DIGITS, text('6')).stop(0).read()  # stopped while its dialed text waits
    seeds['day'] = s.b

    s = Station()
    s.start(0, 0).start(7, 7).ticks(0).register(0).register(7).ticks(0xE0)  # 60 ticks
    s.ticks(0xF8).ticks(0xF8).ticks(0)  # unanswered keep-alives: failed, then registering again
    s.register(0).operate(0, NEWCALL, text('4711'))
    seeds['silence'] = s.b

    s = Station()
    s.start(3, 3).ticks(0).register(3).operate(3, WATCH_MANY, u16(300), bytes([0xF0]))  # 600 watches
    s.ticks(7).ticks(7).ack(3).ack(3).stop(3).operate(3, ANSWER).start(3, 3).operate(3, WATCH, bytes([2]), bytes([0]))
    seeds['watches'] = s.b

    host = u32(0x0A4E0001)
    recs = (host + bytes([0x81, 0, 0, 9]) + u32(17) + u32(1) + u32(0x100) + bytes(20)
            + u32(0xFFFFFFFF) + bytes([0xC3, 0, 2, 2]) + u32(200)
            + u32(0xFFFFFFFF) + bytes([0xC5, 0, 0, 4]) + u32(0x701) + u32(0x4711) + u32(0)
            + u32(0))
    s = Station().start(0, 0).ticks(0).datagram(recs).operate(0, TAKE_BACK, text('0042')).operate(0, DEFLECT, text('4712'))
    seeds['datagram'] = s.b
    return seeds


# ---- call-record stream: operations chosen by (byte % 5) ----
def sealed_fields(i):
    """150 bytes of a record before its marker: numbers, kind, dial fields, date."""
    r = bytearray(150)
    r[0:16] = u32(17 + i) + u32(4711) + u32(1) + u32(1000)
    r[16] = i % 6
    r[24:120] = bytes([4, 7, 1, 1] + [0xFF] * 28) * 3
    if i % 6 in (1, 2):
        r[24:48] = b'Call record note %03d\0\0\0' % i
    r[120:124] = u32((24 << 26) | (5 << 22) | (17 << 17) | (10 << 12) | (30 << 6) | (i % 60))
    r[124:128] = u32(7500)
    r[136:140] = u32(0xC000020A)
    return bytes(r)


def cmdr_seeds():
    head = u32(0x7F000001) + bytes(12) + bytes([1])  # the server's address, IPv4
    def records(first, n):
        return bytes([1, n - 1]) + b''.join(sealed_fields(first + k) for k in range(n))
    def send(n):
        return bytes([2]) + u16(n)
    def ticks(n):
        return bytes([3, n - 1])
    seeds = {
        'three-whole': head + records(0, 3) + send(3 * 154) + ticks(1),
        'cut-anywhere': head + records(0, 40) + send(100) + ticks(1) + send(500) + ticks(1) + send(3000)
        + ticks(2) + send(4000) + ticks(3),
        'broken-third': head + records(0, 2) + bytes([0]) + u16(154) + bytes(range(154)) + send(462) + ticks(2),
        'close-halfway': head + records(5, 1) + send(77) + ticks(1) + bytes([4]) + ticks(4),
    }
    return seeds


# ---- adjunct: operations chosen by (byte % 7) ----
def route(id_byte, digits):
    return bytes([1, id_byte]) + u32((24 << 26) | (5 << 22) | (17 << 17)) + u32(17) + u32(4711) \
        + bytes([len(digits)]) + bytes(digits)


def adjunct_seeds():
    keep = bytes([2])
    def ticks(n):
        return bytes([4, n - 1])
    def answer(pick, digits, value):
        return bytes([3, pick]) + text(digits) + u32(value)
    return {
        'answered': keep + ticks(1) + route(7, [4, 7, 1, 1]) + ticks(1) + answer(0, '200', 1) + ticks(1),
        'repeated-and-late': keep + ticks(1) + route(3, [1]) + route(3, [1]) + ticks(1)
        + b''.join(route(i, [i % 10]) for i in range(8, 40)) + ticks(16) + ticks(16) + ticks(16)
        + ticks(16) + answer(1, '1', 0),
        'silent-server': ticks(16) * 5 + route(1, []) + ticks(1),
        'oversize': keep + ticks(1) + bytes([0]) + u16(1100) + bytes(1100) + ticks(1),
        'wrap': keep + ticks(1) + bytes([5]) + u32(0xFFFFFFF0 - 1000) + route(2, [2]) + ticks(16)
        + answer(0, '2', 2) + bytes([6]) + ticks(1),
    }


# ---- dial: an odd byte takes codes, an even one a text ----
def dial_seeds():
    def codes(c):
        return bytes([1, len(c)]) + bytes(c)
    def txt(s):
        return bytes([0]) + bytes([len(s)]) + s
    return {
        'texts': txt(b'0123456789ABCDabcd*#') + txt(b'12x34') + txt(b'9' * 40) + txt(b'00001234567'),
        'codes': codes(list(range(16))) + codes([1, 2, 0xFF, 3]) + codes([15] * 32) + codes([16, 1]),
    }


def write(target, seeds):
    folder = os.path.join(HERE, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)


write('station', station_seeds())
write('cmdr_stream', cmdr_seeds())
write('adjunct', adjunct_seeds())
write('dial', dial_seeds())
