"""The library's side of the panel: the operator's station, its watches, the
optional feed and routing link, and the notifications that feed the state.

Everything runs on the asyncio loop's thread, which initialised the
library: the queue descriptor wakes the loop for each tick and message.
A feed or link that fails (or cannot connect) is started again after
RETRY_SECONDS; the station recovers by itself inside the library.
"""
import asyncio

import qapi

RETRY_SECONDS = 10.0


class Telephony:
    def __init__(self, options, state, retry_seconds=RETRY_SECONDS):
        self.options = options
        self.state = state
        self.retry_seconds = retry_seconds
        self.station = None
        self.feed = None
        self.link = None
        self._loop = None

    def start(self):
        """Starts the library and the station; raises QapiError when it cannot."""
        o = self.options
        qapi.initialize(o.station_port, library=o.library)
        self.station = qapi.Station(o.station)
        for extension in self.state.watched:
            self.station.bdp_register(extension)

    async def run(self):
        self._loop = asyncio.get_running_loop()
        self._start_feed()
        self._start_link()
        async with qapi.async_notifications() as stream:
            async for note in stream:
                self.state.apply(note)
                if isinstance(note, qapi.FeedStatus) and note.state == qapi.FeedState.FAILED:
                    self.feed = self._stopped(self.feed, self._start_feed)
                elif isinstance(note, qapi.LinkStatus) and note.state == qapi.LinkState.FAILED:
                    self.link = self._stopped(self.link, self._start_link)

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
        try:
            handle = kind(*address)
        except qapi.RefusedError as e:
            tell("failed", f"cannot connect: {e.reason}")
            self._loop.call_later(self.retry_seconds, again)
            return None
        tell("connecting" if kind is qapi.RoutingLink else "open")
        return handle

    def stop(self):
        qapi.release()
