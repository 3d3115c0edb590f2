"""A browser that receives slowly is sent the latest of everything, merged."""
import asyncio
import json

import qapi
from qapi.panel.hub import Hub
from qapi.panel.model import PanelState


class SlowSocket:
    """A WebSocket whose sends wait until the test lets them go."""

    def __init__(self):
        self.closed = False
        self.sent = []
        self.go = asyncio.Event()

    async def send_str(self, text):
        await self.go.wait()
        self.go.clear()
        self.sent.append(json.loads(text))


def test_changes_for_a_busy_browser_are_merged_lamp_by_lamp():
    async def scenario():
        state = PanelState(17, [201, 202, 203])
        hub = Hub(state)
        ws = SlowSocket()
        browser = hub.join(ws)
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
