"""The library's side of the panel: the operator's station, its watches, the
optional feed and routing link, and the notifications that feed the state.

The library runs on a thread of its own, which initialised it, with an
asyncio loop of its own over the library's queue descriptor.  Starting a
feed or a link may wait on the network (a connect or a name lookup, up to
the library's 3 s); that wait holds this thread alone, never the one that
serves the pages.  The two threads meet in three places, each bounded:
- the state (PanelState, locked): the notifications update it and the hub
  reads it; it keeps the latest of everything, however much arrives;
- the commands (submit): each browser waits for one at a time, so no more
  wait here than browsers are connected;
- the end of this thread, which the web side awaits (run).
A feed or link that fails (or cannot connect) is started again after
RETRY_SECONDS; the station recovers by itself inside the library.
"""
import asyncio
import threading

import qapi

RETRY_SECONDS = 10.0
STOP_SECONDS = 10.0      # the longest a start in progress can hold the panel's exit is 3 s


def _settle(future, outcome):
    if future.done():
        return
    if isinstance(outcome, BaseException):
        future.set_exception(outcome)
    else:
        future.set_result(outcome)


class Telephony:
    def __init__(self, options, state, retry_seconds=RETRY_SECONDS):
        self.options = options
        self.state = state
        self.retry_seconds = retry_seconds
        self.station = None
        self.feed = None
        self.link = None
        self._loop = None            # the library thread's own loop
        self._stream = None
        self._thread = None
        self._ready = threading.Event()
        self._failure = None
        self._ended = None           # on the web loop: the library thread's end

    def start(self):
        """Starts the library's thread, and on it the library and the
        station; raises what stopped them.  Called on the web loop, which it
        holds only while the station starts (no network wait)."""
        web = asyncio.get_running_loop()
        self._ended = web.create_future()
        self._thread = threading.Thread(target=self._main, args=(web,), name="qapi-library", daemon=True)
        self._thread.start()
        self._ready.wait()
        if self._failure is not None:
            self._thread.join()
            raise self._failure

    async def run(self):
        """Waits on the web loop for the library's thread to end by itself."""
        return await self._ended

    def submit(self, job):
        """A future of the web loop with what job() returns, run on the
        library's thread."""
        web = asyncio.get_running_loop()
        future = web.create_future()

        def carry_out():
            try:
                outcome = job()
            except Exception as e:   # a fault of the job: its caller hears of it
                outcome = e
            web.call_soon_threadsafe(_settle, future, outcome)

        try:
            self._loop.call_soon_threadsafe(carry_out)
        except RuntimeError:
            future.set_exception(qapi.QapiError("the library's thread has ended"))
        return future

    def stop(self):
        """Ends the library's thread, which releases the library, and waits for it."""
        if self._thread is None:
            return
        try:
            self._loop.call_soon_threadsafe(self._stream.close)
        except RuntimeError:
            pass                     # its loop has ended already
        self._thread.join(STOP_SECONDS)

    # On the library's thread.
    def _main(self, web):
        outcome = None
        try:
            asyncio.run(self._serve())
        except BaseException as e:  # noqa: B036 - handed to the web loop, which reports it
            outcome = e
        if not self._ready.is_set():
            self._failure = outcome or qapi.QapiError("the library's thread ended as it started")
            self._ready.set()
            return
        try:
            web.call_soon_threadsafe(_settle, self._ended, outcome)
        except RuntimeError:
            pass                     # the web loop has ended: the panel is stopping

    async def _serve(self):
        self._loop = asyncio.get_running_loop()
        o = self.options
        try:
            qapi.initialize(o.station_port, library=o.library)
            self.station = qapi.Station(o.station)
            for extension in self.state.watched:
                self.station.bdp_register(extension)
            async with qapi.async_notifications() as stream:
                self._stream = stream
                self._ready.set()
                self._loop.call_soon(self._start_feed)
                self._loop.call_soon(self._start_link)
                async for note in stream:
                    self.state.apply(note)
                    if isinstance(note, qapi.FeedStatus) and note.state == qapi.FeedState.FAILED:
                        self.feed = self._stopped(self.feed, self._start_feed)
                    elif isinstance(note, qapi.LinkStatus) and note.state == qapi.LinkState.FAILED:
                        self.link = self._stopped(self.link, self._start_link)
        finally:
            qapi.release()

    def _stopped(self, handle, again):
        if handle is not None and handle.live:
            handle.stop()
        self._loop.call_later(self.retry_seconds, again)
        return None

    def _start_feed(self):
        if self.options.feed and self.feed is None:
            self.feed = self._connect(qapi.CallRecordFeed, self.options.feed, self.state.feed_state,
                                      self._start_feed)

    def _start_link(self):
        if self.options.link and self.link is None:
            self.link = self._connect(qapi.RoutingLink, self.options.link, self.state.link_state, self._start_link)

    def _connect(self, kind, address, tell, again):
        tell("connecting")           # the page shows it while the library waits
        try:
            handle = kind(*address)
        except qapi.RefusedError as e:
            tell("failed", f"cannot connect: {e.reason}")
            self._loop.call_later(self.retry_seconds, again)
            return None
        tell("connecting" if kind is qapi.RoutingLink else "open")
        return handle
