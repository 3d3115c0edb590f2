"""Sealed call records as a call server writes them, what the collector
must store for each, and a feed server of the test's own."""
import socket
import struct
import threading
import time

DIAL = {c: i for i, c in enumerate("0123456789ABCD*#")}


def fletcher251(data):
    s0, s1 = 1, 0
    for b in data:
        s0 = ((s0 + b) & 0xFF) % 251
        s1 = ((s1 + s0) & 0xFF) % 251
    return s1 * 256 + s0 or 0xFFFF


def packed(year, month, day, hour, minute, second):
    return second | minute << 6 | hour << 12 | day << 17 | month << 22 | (year - 2000) << 26


class Record:
    """One call record's fields, as the server holds them."""

    def __init__(self, kind, a=0, b=0, c=0, d=0, digits=("", "", ""), text=b"", when=(2024, 5, 17, 10, 30, 0),
                 count=0, value_a=0, value_b=0, address=0, word_a=0, word_b=0):
        self.kind, self.a, self.b, self.c, self.d = kind, a, b, c, d
        self.digits, self.text, self.when, self.count = digits, text, when, count
        self.value_a, self.value_b, self.address, self.word_a, self.word_b = value_a, value_b, address, word_a, word_b

    def sealed(self):
        r = bytearray(154)
        struct.pack_into("<iiiI", r, 0, self.a, self.b, self.c, self.d)
        r[16] = self.kind
        if self.kind in (1, 2):
            r[24:24 + len(self.text)] = self.text
        else:
            for field, digits in zip((24, 56, 88), self.digits):
                r[field:field + 32] = b"\xff" * 32
                for i, ch in enumerate(digits):
                    r[field + i] = DIAL[ch]
        struct.pack_into("<IIIIIHH", r, 120, packed(*self.when), self.count, self.value_a, self.value_b,
                         self.address, self.word_a, self.word_b)
        r[150] = 0xFF
        r[151] = sum(r[:151]) & 0xFF
        f = fletcher251(r[:152])
        r[152], r[153] = f & 0xFF, f >> 8
        return bytes(r)

    def expected(self, server_address="127.0.0.1"):
        """The columns the collector stores for the record, by name."""
        kind = self.kind
        full = kind == 0 or kind >= 5
        count = self.count
        duration = 2 * (count // 125) + (count % 125 > 62) + (count % 62 > 31) if full else 0
        year, month, day, hour, minute, second = self.when
        text = self.text.split(b"\0")[0][:95].decode("latin-1") if kind in (1, 2) else ""
        texts = ["", "", ""]
        if kind == 3 or kind not in (1, 2, 4):
            texts = [self.digits[0][:31], self.digits[1][:31] if kind != 3 else "", self.digits[2][:28]]
        days = [31, 29 if year % 4 == 0 else 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31][month - 1]
        time_text = "%04d-%02d-%02d %02d:%02d:%02d" % self.when
        a = self.a if kind != 1 else -1
        return {
            "kindLetter": chr(65 + kind),
            "callTime": time_text if day <= days else None,
            "sentTime": None if day <= days else time_text,
            "duration": duration,
            "numberA": a,
            "numberB": self.b if full else -1,
            "numberC": self.c if kind in (2, 3) or full else -1,
            "textA": texts[0], "textB": texts[1], "textC": texts[2], "text": text,
            "wordA": self.word_a if kind == 4 or full else 0,
            "wordB": self.word_b if kind in (2, 4) or full else 0,
            "valueA": self.value_a if full else 0,
            "valueB": self.value_b if full else 0,
            "addressText": socket.inet_ntoa(struct.pack(">I", self.address)) if full else "",
            "numberD": self.d if full else 0,
            "serverAddressText": server_address,
        }


def numbered(n, first=0):
    """n different records of the full kind, numberC counting from `first`."""
    return [Record(5, a=17 + i % 7, b=4711, c=first + i, digits=("4711", "17", "0815"),
                   when=(2024, 6, 1 + i // 1440 % 28, i // 60 % 24, i % 60, 0), count=125 * (i % 90))
            for i in range(first, first + n)]


class FeedServer:
    """A call server's feed on 127.0.0.1:port: on every connection it writes
    `records` from the first (a server that sends again what it sent before
    a reconnect), `per_batch` every `interval` seconds, and reads the polls."""

    def __init__(self, port, records, per_batch=1000, interval=0.0):
        self.records = [r.sealed() if isinstance(r, Record) else r for r in records]
        self.per_batch, self.interval = per_batch, interval
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", port))
        self.listener.listen(4)
        self.connections = 0
        self.sent = 0
        self.done = threading.Event()
        self._stop = False
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        self.listener.settimeout(0.2)
        while not self._stop:
            try:
                conn, _ = self.listener.accept()
            except (socket.timeout, OSError):
                continue
            self.connections += 1
            threading.Thread(target=self._write, args=(conn,), daemon=True).start()

    def _write(self, conn):
        try:
            conn.setblocking(True)
            for first in range(0, len(self.records), self.per_batch):
                if self._stop:
                    break
                conn.sendall(b"".join(self.records[first:first + self.per_batch]))
                self.sent += min(self.per_batch, len(self.records) - first)
                self._drain_polls(conn)
                if self.interval:
                    time.sleep(self.interval)
            self.done.set()
            while not self._stop:
                self._drain_polls(conn)
                time.sleep(0.05)
        except OSError:
            pass
        finally:
            conn.close()

    @staticmethod
    def _drain_polls(conn):
        conn.setblocking(False)
        try:
            while conn.recv(4096):
                pass
        except (BlockingIOError, OSError):
            pass
        conn.setblocking(True)

    def close(self):
        self._stop = True
        self.listener.close()
        self.thread.join()
