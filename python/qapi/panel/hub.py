"""The browsers' connections: the whole state on joining, then the changes.

Every `flush_ms` the hub takes what changed in the state and hands it to
each browser.  A browser that is still busy receiving gets the changes
merged into what already waits for it, lamps by lamp, so a slow one falls
behind by at most one message and never builds a backlog.  A browser that
hears nothing for a while takes the panel for gone: "alive" goes out every
ALIVE_SECONDS when nothing else does.

What one browser can hold of the panel is bounded.  At most MAX_BROWSERS
are connected at once, each with a system send buffer of a fixed size
(SEND_BUFFER).  The whole messages waiting for one (the state, the
results of its commands) are at most MAX_WAITING, of MAX_WAITING_BYTES
together; its commands are read no faster than it takes their results
(room()), and a message it has not taken within STALL_SECONDS means it no
longer reads.  A browser past either bound is closed with 1008 (policy
violation: a client reads what it is sent), given CLOSE_SECONDS to take
the close and then cut off.  Each browser has its own task that sends, so
the others never wait for it.
"""
import asyncio
import collections
import fcntl
import json
import socket
import termios
import time

from aiohttp import WSCloseCode

ALIVE_SECONDS = 2.0
MAX_BROWSERS = 32
MAX_WAITING = 64
MAX_WAITING_BYTES = 256 * 1024
STALL_SECONDS = 10.0
CLOSE_SECONDS = 10.0
STOP_SECONDS = 1.0
SEND_BUFFER = 128 * 1024     # the system's buffer of one connection, which it doubles: no growing past it


def _json(message):
    return json.dumps(message, separators=(",", ":"))   # ASCII: a character is a byte


def _unsent(transport):
    """Bytes sent to a connection that its peer has not yet taken: in the
    transport's buffer, and in the system's queue not yet acknowledged."""
    if transport is None:
        return 0
    queued = bytearray(4)
    try:
        fcntl.ioctl(transport.get_extra_info("socket").fileno(), termios.TIOCOUTQ, queued)
    except (AttributeError, OSError, ValueError):
        queued = bytes(4)
    return transport.get_write_buffer_size() + int.from_bytes(queued, "little")


class _Browser:
    def __init__(self, ws, transport, first):
        self.ws = ws
        self.transport = transport
        self.outbox = collections.deque()   # whole messages as sent, in order
        self.waiting_bytes = 0
        self.changes = {}                    # merged changes not yet sent
        self.wake = asyncio.Event()
        self.taken = asyncio.Event()         # set as each waiting message goes out
        self.last_sent = 0.0
        self.sending_since = None            # when the send under way began
        self.closing = None                  # the task that closes it
        self.reason = None                   # why, when it broke a bound
        self.post(first)

    def merge(self, changes):
        for name, value in changes.items():
            if name == "lamps" and "lamps" in self.changes:
                self.changes["lamps"].update(value)
            else:
                self.changes[name] = dict(value) if name == "lamps" else value
        self.wake.set()

    def post(self, message):
        if self.closing:
            return
        text = _json(message)
        if len(self.outbox) >= MAX_WAITING or self.waiting_bytes + len(text) > MAX_WAITING_BYTES:
            self.close(f"not reading: {len(self.outbox)} messages wait")
            return
        self.outbox.append(text)
        self.waiting_bytes += len(text)
        self.wake.set()

    async def room(self):
        """Returns once at most half of MAX_WAITING messages wait (or it closes)."""
        while len(self.outbox) > MAX_WAITING // 2 and not self.closing:
            self.taken.clear()
            await self.taken.wait()

    def _next(self):
        text = self.outbox.popleft()
        self.waiting_bytes -= len(text)
        self.taken.set()
        return text

    def stalled(self, now):
        return self.sending_since is not None and now - self.sending_since >= STALL_SECONDS

    async def send_all(self):
        try:
            while not self.ws.closed and not self.closing:
                await self.wake.wait()
                self.wake.clear()
                while (self.outbox or self.changes) and not self.closing:
                    if self.outbox:
                        text = self._next()
                    else:
                        text, self.changes = _json(dict(self.changes, type="update")), {}
                    self.sending_since = time.monotonic()
                    await self.ws.send_str(text)
                    self.last_sent, self.sending_since = self.sending_since, None
        except ConnectionError:
            pass  # the browser went away while it was being sent to

    def close(self, reason=None, seconds=None):
        """Closes the connection, unless it closed already, in a task of its
        own (`closing`): with 1008 and `reason` for a browser that broke a
        bound, else with 1001 (going away); cut off after `seconds`
        (CLOSE_SECONDS) if the browser has not taken the close by then."""
        if self.closing is None:
            self.reason = reason
            self.closing = asyncio.get_running_loop().create_task(self._close(reason, seconds or CLOSE_SECONDS))
            self.wake.set()
            self.taken.set()
        return self.closing

    async def _close(self, reason, seconds):
        deadline = time.monotonic() + seconds
        code = WSCloseCode.GOING_AWAY if reason is None else WSCloseCode.POLICY_VIOLATION
        try:
            await asyncio.wait_for(self._last_words(code, reason or ""), seconds)
            # A client that answered the close took everything; one that did
            # not, or went silent, may still be taking what was sent before.
            while self.ws.close_code == WSCloseCode.ABNORMAL_CLOSURE and _unsent(self.transport):
                if time.monotonic() >= deadline:
                    raise asyncio.TimeoutError
                await asyncio.sleep(0.1)
        except (asyncio.TimeoutError, ConnectionError):
            if self.transport is not None:
                self.transport.abort()

    async def _last_words(self, code, reason):
        while self.outbox and not self.ws.closed:   # what waits goes out first
            await self.ws.send_str(self._next())
        await self.ws.close(code=code, message=reason.encode())


class Hub:
    def __init__(self, state, flush_ms=50):
        self.state = state
        self.flush_seconds = flush_ms / 1000
        self.browsers = set()

    def join(self, ws, transport):
        """A browser that connects now, sent the whole state first; None
        when MAX_BROWSERS are connected already."""
        if len(self.browsers) >= MAX_BROWSERS:
            return None
        connection = transport.get_extra_info("socket") if transport is not None else None
        if connection is not None:
            connection.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, SEND_BUFFER)
        browser = _Browser(ws, transport, dict(self.state.full(), type="state"))
        self.browsers.add(browser)
        return browser

    def leave(self, browser):
        self.browsers.discard(browser)

    async def close_all(self, app=None):
        """Closes every connection, as the panel stops: the pages hear that
        it went away, and its exit waits at most STOP_SECONDS for them."""
        closing = [browser.close(seconds=STOP_SECONDS) for browser in self.browsers]
        await asyncio.gather(*closing, return_exceptions=True)

    def flush(self):
        changes = self.state.take_changes()
        now = time.monotonic()
        for browser in self.browsers:
            if browser.stalled(now):
                browser.close(f"not reading: nothing taken for {STALL_SECONDS:g} s")
            if browser.closing:
                continue
            if changes:
                browser.merge(changes)
            elif now - browser.last_sent >= ALIVE_SECONDS and not browser.outbox:
                browser.post({"type": "alive"})

    async def run(self):
        while True:
            await asyncio.sleep(self.flush_seconds)
            self.flush()
