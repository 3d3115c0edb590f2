"""A WebSocket client written out by hand over a plain socket, for the tests
that decide exactly what is sent and what is read, and when."""
import base64
import json
import os
import socket
import struct
import time

CLOSE, PING, PONG, TEXT = 8, 9, 10, 1


def frame(text, opcode=TEXT):
    """One masked frame, as a client sends it."""
    payload, mask = text.encode(), os.urandom(4)
    n = len(payload)
    length = bytes([0x80 | n]) if n < 126 else bytes([0x80 | 126]) + struct.pack(">H", n)
    masked = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
    return bytes([0x80 | opcode]) + length + mask + masked


class RawWebSocket:
    def __init__(self, host="127.0.0.1", port=8080, receive_buffer=None, timeout=5.0):
        self.sock = socket.socket()
        if receive_buffer:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
        self.sock.settimeout(timeout)
        self.sock.connect((host, port))
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall((f"GET /ws HTTP/1.1\r\nHost: {host}:{port}\r\nUpgrade: websocket\r\n"
                           f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n"
                           f"Origin: http://{host}:{port}\r\n\r\n").encode())
        self._data, self._at = bytearray(), 0
        while b"\r\n\r\n" not in self._data:
            self._fill()
        head, rest = bytes(self._data).split(b"\r\n\r\n", 1)
        self._data = bytearray(rest)
        self.status = int(head.split(b" ", 2)[1])

    def _fill(self):
        chunk = self.sock.recv(65536)
        if not chunk:
            raise ConnectionError("the panel closed the connection")
        del self._data[:self._at]
        self._at = 0
        self._data += chunk

    def _take(self, n):
        while len(self._data) - self._at < n:
            self._fill()
        self._at += n
        return bytes(self._data[self._at - n:self._at])

    def receive(self):
        """(opcode, payload) of the next frame; pings are answered on the way."""
        while True:
            first, second = self._take(2)
            n = second & 0x7F
            if n == 126:
                n = struct.unpack(">H", self._take(2))[0]
            elif n == 127:
                n = struct.unpack(">Q", self._take(8))[0]
            opcode, payload = first & 0x0F, self._take(n)
            if opcode != PING:
                return opcode, payload
            self.sock.sendall(frame(payload.decode("latin-1"), PONG))

    def message(self):
        """The next message of the panel, as JSON."""
        opcode, payload = self.receive()
        assert opcode == TEXT, f"frame {opcode} {payload[:40]!r} where a message was due"
        return json.loads(payload)

    def until(self, condition, seconds=5.0):
        """The first message that satisfies `condition`, within `seconds`."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.sock.settimeout(max(0.01, deadline - time.monotonic()))
            try:
                found = self.message()
            except socket.timeout:
                break
            if condition(found):
                return found
        raise AssertionError(f"no such message within {seconds} s")

    def send(self, command):
        self.sock.sendall(frame(json.dumps(command)))

    def close_code(self, seconds=10.0):
        """Reads up to the panel's close frame: its code, or None when the
        connection ended without one, or `seconds` passed first."""
        deadline = time.monotonic() + seconds
        try:
            while time.monotonic() < deadline:
                self.sock.settimeout(max(0.01, deadline - time.monotonic()))
                opcode, payload = self.receive()
                if opcode == CLOSE:
                    return struct.unpack(">H", payload[:2])[0] if len(payload) >= 2 else None
        except (ConnectionError, socket.timeout):
            pass
        return None

    def close(self):
        self.sock.close()
