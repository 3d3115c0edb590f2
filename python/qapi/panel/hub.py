"""The browsers' connections: the whole state on joining, then the changes.

Every `flush_ms` the hub takes what changed in the state and hands it to
each browser.  A browser that is still busy receiving gets the changes
merged into what already waits for it, lamps by lamp, so a slow one falls
behind by at most one message and never builds a backlog.  A browser that
hears nothing for a while takes the panel for gone: "alive" goes out every
ALIVE_SECONDS when nothing else does.
"""
import asyncio
import json
import time

ALIVE_SECONDS = 2.0


class _Browser:
    def __init__(self, ws, first):
        self.ws = ws
        self.outbox = [first]        # whole messages, in order (the state, command results)
        self.changes = {}            # merged changes not yet sent
        self.wake = asyncio.Event()
        self.wake.set()
        self.last_sent = 0.0

    def merge(self, changes):
        for name, value in changes.items():
            if name == "lamps" and "lamps" in self.changes:
                self.changes["lamps"].update(value)
            else:
                self.changes[name] = dict(value) if name == "lamps" else value
        self.wake.set()

    def post(self, message):
        self.outbox.append(message)
        self.wake.set()

    async def send_all(self):
        try:
            while not self.ws.closed:
                await self.wake.wait()
                self.wake.clear()
                while self.outbox or self.changes:
                    if self.outbox:
                        message = self.outbox.pop(0)
                    else:
                        message, self.changes = dict(self.changes, type="update"), {}
                    await self.ws.send_str(json.dumps(message, separators=(",", ":")))
                    self.last_sent = time.monotonic()
        except ConnectionError:
            pass  # the browser went away while it was being sent to


class Hub:
    def __init__(self, state, flush_ms=50):
        self.state = state
        self.flush_seconds = flush_ms / 1000
        self.browsers = set()

    def join(self, ws):
        """A browser that connected now: it is sent the whole state first."""
        browser = _Browser(ws, dict(self.state.full(), type="state"))
        self.browsers.add(browser)
        return browser

    def leave(self, browser):
        self.browsers.discard(browser)

    def flush(self):
        changes = self.state.take_changes()
        now = time.monotonic()
        for browser in self.browsers:
            if changes:
                browser.merge(changes)
            elif now - browser.last_sent >= ALIVE_SECONDS and not browser.outbox:
                browser.post({"type": "alive"})

    async def run(self):
        while True:
            await asyncio.sleep(self.flush_seconds)
            self.flush()
