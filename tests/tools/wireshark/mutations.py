"""Datagrams and call records of the three protocols, built here from
their layouts, and the broken forms of them that a network or a faulty
server may produce.  Each hand-made case names the expert infos its frame
must show.

Python standard library only."""

import random
import struct

HOST = 0x7F000001  # 127.0.0.1 as the destination word
EVERY_HOST = 0xFFFFFFFF
STATION = 17


def u32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def record(type, body=b"", sub=0, extra=0, length=None, dest=HOST):
    """A station record: destination, type, sub, extra, length byte L (the
    record's words after the destination), body."""
    if length is None:
        length = (4 + len(body)) // 4
    return u32(dest) + bytes([type, sub, extra, length]) + body


def event(sub, type=0xC0, server_state=0, word=0, ref=0xFFFF, flags=0x100):
    return record(type, u32(STATION) + struct.pack("<HHBBHI", word, 0, server_state, 0, ref, flags), sub=sub)


def display(text, length=None):
    return record(0xC8, u32(STATION) + text.ljust(32, b"\0"), length=length)


def request(type, sequence=0, code=0, word=0, payload=b""):
    return u32(0) + struct.pack("<BBHI", type, sequence, code, word) + payload


def fletcher251(data):
    s0, s1 = 1, 0
    for b in data:
        s0 = ((s0 + b) % 256) % 251
        s1 = ((s1 + s0) % 256) % 251
    check = s1 * 256 + s0
    return check or 0xFFFF


def date_word(year, month, day, hour, minute, second):
    return (year - 2000) << 26 | month << 22 | day << 17 | hour << 12 | minute << 6 | second


def call_record(kind=5, when=(2024, 5, 17, 10, 30, 0), spoil=None, texts=bytes([4, 7, 1, 1])):
    """A sealed 154-byte call record whose 96 bytes of digits or text start
    with `texts` (0xFF after them); `spoil` names the check to break:
    marker, sum, check or swapped (the check sum's bytes the wrong way
    round)."""
    r = bytearray(154)
    r[0:16] = struct.pack("<iiiI", 17, 4711, 1, 1000)
    r[16] = kind
    r[24:120] = texts.ljust(96, b"\xff")
    r[120:124] = u32(date_word(*when))
    r[150] = 0xFF
    r[151] = sum(r[:151]) % 256
    check = fletcher251(r[:152])
    r[152:154] = struct.pack("<H", check)
    if spoil == "marker":
        r[150] = 0xFE
        r[151] = sum(r[:151]) % 256
        r[152:154] = struct.pack("<H", fletcher251(r[:152]))
    elif spoil == "sum":
        r[151] ^= 0x10
        r[152:154] = struct.pack("<H", fletcher251(r[:152]))
    elif spoil == "check":
        r[152] ^= 0x01
    elif spoil == "swapped":
        r[152:154] = struct.pack(">H", check)
    return bytes(r)


def adjunct(type, body=b"", length=None, first=0):
    return bytes([first, type]) + struct.pack("<H", len(body) if length is None else length) + body


def route_request(when=(2024, 5, 17, 11, 0, 0), request_id=1, digits_a=bytes([4, 7, 1, 1]), digits_b=bytes([1, 7])):
    body = struct.pack("<IiiI", date_word(*when), 4711, 17, request_id)
    return adjunct(0x41, body + digits_b.ljust(32, b"\xff") + digits_a.ljust(32, b"\xff"))


# Every dial code twice: 32 codes, of which the library keeps 31 (28 where
# it reads only 28).
ALL_CODES = bytes(range(16)) * 2
ALL_DIGITS = "0123456789ABCD*#" * 2


# Station datagrams: each with the expert infos its frame must show and
# fields it must hold (a list: every occurrence, in order).
BLANK_ID = " " * 8
STATION_CASES = [
    (record(0x81, u32(STATION) + u32(0x1234) + u32(0x100) + struct.pack("<hh", -2, 0) + struct.pack("<4i", 1, 2, 3, 4),
            sub=6), set(),
     {"qstation.state": "6", "qstation.token": "0x00001234", "qstation.flags.call_allowed": "1",
      "qstation.reg_short": "-2", "qstation.reg_value": ["1", "2", "3", "4"]}),
    (record(0xBE, u32(STATION), sub=2), set(), {"qstation.refusal": "2", "qstation.station": "17"}),
    (record(0x83, u32(STATION) + u32(0x301), sub=10) + record(0xC7, u32(STATION) + u32(0x20)), set(),
     {"qstation.state": "10", "qstation.flags.blocked": ["1", "0"], "qstation.flags.mailbox": ["0", "1"]}),
    (record(0xC4, u32(STATION), sub=7) + record(0x04, u32(STATION)) + record(0x09), set(),
     {"qstation.info_value": "7", "qstation.type": ["0xc4", "0x04", "0x09"]}),
    (event(12, word=66) + event(15, word=0x010A) + event(23, word=300) + event(13, server_state=30)
     + event(7, server_state=30), set(),
     {"qstation.event.indicator": "66", "qstation.event.key": "A", "qstation.event.value": "300",
      "qstation.event.leads_to": ["0", "0", "0", "10"]}),
    (event(2, type=0xC1, word=0x0005) + event(2, type=0xC1, word=0x0B05) + event(4, type=0xC1, flags=0)
     + event(4, type=0xC1, flags=1) + event(1, type=0xC1, server_state=30), set(),
     {"qstation.event.digit": ["5"], "qstation.event.leads_to": ["0"]}),
    (record(0xC2, u32(STATION) + b"\xff" * 28) + record(0xC2, u32(STATION) + bytes([1, 2, 15, 9, 10, 16, 3])
                                                      + b"\xff" * 21), set(),
     {"qstation.number": ["", "12#9A"]}),
    (record(0xC6, u32(STATION) + struct.pack("<HH", 42, 0), sub=5)
     + record(0xC6, u32(STATION) + struct.pack("<HHII", 12345, 0, 0xFFFF1234, 0x0000ABCD), sub=25), set(),
     {"qstation.call.line": ["0042 %s %sSeized         " % (BLANK_ID, BLANK_ID), "2345     1234 0000ABCDCamped         "]}),
    (record(0xC5, u32(0x12AB34CD) + u32(0xFFFF4567) + u32(9) + u32(0xFFFF0123) + u32(0x00004567) + u32(1),
            dest=EVERY_HOST), set(),
     {"qstation.park.count": "2", "qstation.park.line": ["1234 4567", "0123 00004567"]}),
    (display(b"0123456789abcdefghijklmnopqrstuv") + record(0xC3, u32(201), extra=3, dest=EVERY_HOST), set(),
     {"qstation.text": "0123456789abcdefghijklmnopqrstuv", "qstation.ext": "201", "qstation.ext.status": "3"}),
    (b"\x01\x02\x03", {"qstation.too_short"}, {}),
    (event(6)[:16], {"qstation.past_end"}, {}),
    (record(0xC4, u32(STATION), length=0) + event(6), {"qstation.zero_length"}, {}),
    (record(0xC0, u32(STATION) + bytes(4)), {"qstation.short_record"}, {}),
    (display(b"Short", length=9), {"qstation.ignored", "qstation.short_record"}, {}),
    (event(6) + u32(0) + b"junk", {"qstation.after_end"}, {}),
    (event(6) + b"\x01\x02\x03\x04\x05", {"qstation.trailing"}, {}),
    (display(b"X" * 32) * 24, {"qstation.oversize"}, {}),
    (record(0xC3, u32(201), extra=2), {"qstation.scope"}, {}),
    (record(0xC0, u32(STATION) + bytes(16), sub=6, dest=EVERY_HOST), {"qstation.scope"}, {}),
    (record(0x55, u32(STATION)), {"qstation.unknown_type"}, {}),
    (record(0xC5, u32(0xFFFF0701) + u32(0xFFFF4712) + u32(0), dest=EVERY_HOST, length=7), {"qstation.past_end"}, {}),
    (record(0xC2, u32(STATION) + bytes([4, 7, 1, 1]) + b"\xff" * 24, extra=3), {"qstation.ignored"}, {}),
    # Requests.
    (request(1, word=0xFFFFFFFF), set(), {"qstation.req.type": "1", "qstation.station": "-1"}),
    (request(5, word=0x1234), set(), {"qstation.req.type": "5", "qstation.token": "0x00001234"}),
    (request(4, word=0x1234, payload=bytes([1, 2, 15, 9]) + b"\xff" * 28), set(), {"qstation.req.digits": "12#9"}),
    (request(25, 0x81, payload=bytes([5, 10]) + b"\xff" * 30), set(),
     {"qstation.req.digits": "5A", "qstation.seq.queued": "1", "qstation.seq.slot": "1"}),
    (request(16, 0xBF, 172), set(), {"qstation.req.feature": "172", "qstation.seq.slot": "63"}),
    (request(23, 0x82, 43), set(), {"qstation.req.call_number": "42"}),
    (request(23, 0x83, 0, payload=bytes(32)), set(), {"qstation.req.call_number": "65535"}),
    (request(19, 0x84, payload=u32(201) + bytes(28)) + b"", set(), {"qstation.ext": "201"}),
    (request(20, 0x85, payload=u32(202) + bytes(28)), set(), {"qstation.ext": "202"}),
    (request(21, 0x86, payload=u32(0xFFFFF701) + bytes(28)), set(), {"qstation.park.key": "0xfffff701"}),
    (request(17, 0x87, payload=bytes([15, 1, 2]) + b"\xff" * 29), set(), {"qstation.req.digits": "#12"}),
    (request(24, 0x88, 0, 0x1234, u32(201) * 4 + u32(0xFFFFFFFF) * 12), set(),
     {"qstation.ext": ["201"] * 4 + ["-1"] * 12}),
    (request(1, word=STATION)[:8], {"qstation.request.short"}, {}),
    (request(16, 0x81, 167, 0x1234, bytes(32)), {"qstation.request.length"}, {}),
    (request(17, 0x82, 0, 0x1234, bytes([4, 7])), {"qstation.request.short"}, {}),
    (request(99, 0x84, 0, 0x1234, bytes(32)), {"qstation.request.unknown_type"}, {}),
]

ADJUNCT_CASES = [
    (adjunct(0x01), set(), {"qadjunct.type": "0x01"}),
    (route_request(when=(2063, 12, 31, 23, 59, 58), request_id=70000), set(),
     {"qadjunct.date": "2063-12-31 23:59:58", "qadjunct.request_id": "70000", "qadjunct.number_a": "4711",
      "qadjunct.digits_a": "4711", "qadjunct.digits_b": "17"}),
    (adjunct(0xC1, struct.pack("<Ii", 1, -5) + bytes([1, 2, 14, 15]) + b"\xff" * 28), set(),
     {"qadjunct.request_id": "1", "qadjunct.value": "-5", "qadjunct.digits": "12*#"}),
    (b"\x00\x81", {"qadjunct.too_short"}, {}),
    (adjunct(0x81, first=1), {"qadjunct.not_zero"}, {}),
    (adjunct(0x81, b"\x00" * 4, length=0), {"qadjunct.longer"}, {}),
    (route_request()[:40], {"qadjunct.truncated", "qadjunct.short_body"}, {}),
    (route_request()[:14], {"qadjunct.truncated", "qadjunct.short_body"}, {"qadjunct.number_a": "4711"}),
    (route_request(digits_a=ALL_CODES, digits_b=ALL_CODES), set(),
     {"qadjunct.digits_a": ALL_DIGITS[:31], "qadjunct.digits_b": ALL_DIGITS[:28]}),
    (adjunct(0x22), {"qadjunct.unknown_type"}, {}),
    (route_request(when=(2024, 13, 0, 25, 61, 62)), {"qadjunct.date.out_of_range"}, {}),
]

# Call records on one stream: the checks each must fail, and fields.
RECORD_CASES = [
    (call_record(), set(), {"qcdr.kind_letter": "F", "qcdr.digits_a": "4711"}),
    (call_record(kind=2), set(), {"qcdr.kind_letter": "C", "qcdr.number_a": "17", "qcdr.number_c": "1"}),
    (call_record(kind=4), set(), {"qcdr.kind_letter": "E", "qcdr.number_a": "17", "qcdr.word_a": "0"}),
    (call_record(spoil="marker"), {"qcdr.marker.bad"}, {}),
    (call_record(spoil="sum"), {"qcdr.sum.bad"}, {}),
    (call_record(spoil="check"), {"qcdr.check.bad"}, {}),
    (call_record(spoil="swapped"), {"qcdr.check.bad"}, {}),
    (call_record(kind=0x41, when=(2024, 0, 0, 24, 60, 63)), {"qcdr.date.out_of_range"}, {"qcdr.kind_letter": "B"}),
    (call_record(texts=ALL_CODES * 3), set(),
     {"qcdr.digits_a": ALL_DIGITS[:31], "qcdr.digits_b": ALL_DIGITS[:31], "qcdr.digits_c": ALL_DIGITS[:28]}),
    (call_record(kind=1, texts=bytes(range(32, 128))), set(), {"qcdr.text": bytes(range(32, 127)).decode()}),
]


def mutated(seed, count):
    """`count` datagrams made from the valid ones above by cutting,
    overwriting, lengthening and scrambling them."""
    rng = random.Random(seed)
    valid = [case for case, wanted, _ in STATION_CASES + ADJUNCT_CASES if not wanted]
    valid += [event(rng.randrange(40), type=rng.choice([0xC0, 0xC1])) + display(b"Hello"), route_request()]
    out = []
    for _ in range(count):
        d = bytearray(rng.choice(valid))
        how = rng.randrange(5)
        if how == 0:
            del d[rng.randrange(1, len(d) + 1):]
        elif how == 1:
            for _ in range(rng.randrange(1, 4)):
                d[rng.randrange(len(d))] = rng.randrange(256)
        elif how == 2:
            d[7 if len(d) > 7 else 0] = rng.randrange(256)
        elif how == 3:
            d += bytes(rng.randrange(256) for _ in range(rng.randrange(1, 40)))
        else:
            d = bytearray(rng.randrange(256) for _ in range(rng.randrange(1, 120)))
        out.append(bytes(d) or b"\x00")
    return out
