"""qapi-panel: starts the library, the state, the hub and the web server."""
import asyncio
import signal
import sys

from aiohttp import web

import qapi

from . import options as panel_options
from .hub import Hub
from .model import PanelState
from .operations import Operations
from .service import Telephony
from .web import make_app


def _url(host, port):
    return f"http://[{host}]:{port}/" if ":" in host else f"http://{host}:{port}/"


async def serve(o):
    state = PanelState(o.station, o.watch, o.records, feed=o.feed, link=o.link)
    telephony = Telephony(o, state)
    try:
        telephony.start()
    except qapi.QapiError as e:
        print(f"qapi-panel: {e}", file=sys.stderr)
        return 1
    hub = Hub(state, o.flush_ms)
    operations = Operations(telephony.station, state, link=lambda: telephony.link)
    runner = web.AppRunner(make_app(hub, operations, telephony.submit, o.token, o.listen[1], o.origin),
                           handle_signals=False, access_log=None)
    await runner.setup()
    try:
        await web.TCPSite(runner, o.listen[0], o.listen[1]).start()
    except OSError as e:
        print(f"qapi-panel: cannot listen on {o.listen[0]}:{o.listen[1]}: {e.strerror}", file=sys.stderr)
        await runner.cleanup()
        telephony.stop()
        return 1
    print(f"panel: {_url(*o.listen)} (station {o.station}, {len(o.watch)} lamps"
          + (", open it once with ?token=TOKEN" if o.token else "") + ")", flush=True)
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for number in (signal.SIGINT, signal.SIGTERM):
        loop.add_signal_handler(number, stop.set)
    tasks = [asyncio.create_task(telephony.run()), asyncio.create_task(hub.run())]
    stopping = asyncio.create_task(stop.wait())
    done, _ = await asyncio.wait([stopping, *tasks], return_when=asyncio.FIRST_COMPLETED)
    status = 0
    for task in tasks:
        if task in done:
            print(f"qapi-panel: stopped by {task.exception() or 'the end of the notifications'}", file=sys.stderr)
            status = 1
    for task in [stopping, *tasks]:
        task.cancel()
    await runner.cleanup()
    telephony.stop()
    return status


def main(argv=None):
    o = panel_options.parse(argv)
    sys.exit(asyncio.run(serve(o)))
