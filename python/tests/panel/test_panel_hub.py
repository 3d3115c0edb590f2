"""A browser that receives slowly is sent the latest of everything, merged;
one that stops receiving is closed, and the others never notice."""
import asyncio
import json

import qapi
from qapi.panel import hub as hub_module
from qapi.panel.hub import MAX_WAITING, Hub
from qapi.panel.model import PanelState


class SlowSocket:
    """A WebSocket whose sends wait until the test lets them go (all of
    them at once with reading=True)."""

    def __init__(self, reading=False):
        self.closed = False
        self.close_code = None
        self.sent = []
        self.go = asyncio.Event()
        self.reading = reading

    async def send_str(self, text):
        if not self.reading:
            await self.go.wait()
            self.go.clear()
        self.sent.append(json.loads(text))

    async def close(self, code, message):
        self.closed, self.close_code, self.reason = True, code, message.decode()


def test_changes_for_a_busy_browser_are_merged_lamp_by_lamp():
    async def scenario():
        state = PanelState(17, [201, 202, 203])
        hub = Hub(state)
        ws = SlowSocket()
        browser = hub.join(ws, None)
        sending = asyncio.create_task(browser.send_all())
        await asyncio.sleep(0)                    # the whole state is on its way, and held
        for extension, status in ((201, 2), (202, 3), (201, 3), (203, 1)):
            state.apply(qapi.ExtensionStatus(None, extension, status))
            hub.flush()
        state.apply(qapi.ParkList(None, ("701 4712",)))
        hub.flush()
        for _ in range(2):
            ws.go.set()
            while ws.go.is_set():
                await asyncio.sleep(0)
        await asyncio.sleep(0)
        sending.cancel()
        return ws.sent, browser

    sent, browser = asyncio.run(scenario())
    assert [m["type"] for m in sent] == ["state", "update"]
    assert sent[0]["lamps"] == {"201": 0, "202": 0, "203": 0}
    assert sent[1]["lamps"] == {"201": 3, "202": 3, "203": 1}
    assert sent[1]["park"] == [{"line": "701 4712", "key": -2303}]
    assert not browser.changes and not browser.outbox


class Transport:
    aborted = False

    def abort(self):
        self.aborted = True

    def get_extra_info(self, name):
        return None


def test_a_browser_that_stops_reading_is_closed_and_the_others_keep_their_updates(monkeypatch):
    monkeypatch.setattr(hub_module, "STALL_SECONDS", 0.2)
    monkeypatch.setattr(hub_module, "CLOSE_SECONDS", 0.2)

    async def scenario():
        state = PanelState(17, [201])
        hub = Hub(state)
        sockets = {"results": SlowSocket(), "silent": SlowSocket(), "reading": SlowSocket(reading=True)}
        browsers = {name: hub.join(ws, Transport()) for name, ws in sockets.items()}
        tasks = [asyncio.create_task(b.send_all()) for b in browsers.values()]
        await asyncio.sleep(0)                     # each is sent the state; two of them hold it
        for i in range(MAX_WAITING + 1):           # results of commands pile up for one
            browsers["results"].post({"type": "result", "id": i})
        state.apply(qapi.ExtensionStatus(None, 201, 2))
        hub.flush()
        await asyncio.sleep(0.5)                   # past the time a send may take
        state.apply(qapi.ExtensionStatus(None, 201, 3))
        hub.flush()
        await asyncio.sleep(0.05)
        for task in tasks:
            task.cancel()
        return sockets, browsers

    sockets, browsers = asyncio.run(scenario())
    # Closed with 1008, or cut off when even the close is not taken.
    ends = {name: (b.reason, sockets[name].close_code, b.transport.aborted) for name, b in browsers.items()}
    assert ends == {"results": (f"not reading: {MAX_WAITING} messages wait", None, True),
                    "silent": ("not reading: nothing taken for 0.2 s", 1008, False), "reading": (None, None, False)}
    assert [m.get("lamps") for m in sockets["reading"].sent] == [{"201": 0}, {"201": 2}, {"201": 3}]
    assert not browsers["reading"].outbox
