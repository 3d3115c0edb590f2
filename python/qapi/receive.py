"""Receiving notifications: a blocking iterator, or an asyncio stream.

Both run the library's 100 ms timer while they wait, on the thread that
initialised it, and decode each notification the moment it is taken.
"""
import asyncio
import collections
import ctypes
import time

from . import session
from ._layout import native
from .errors import QapiError

_SLICE_MS = 200  # the longest wait inside the library, so that Ctrl-C gets through


def notifications(timeout=None):
    """Yields notifications as they arrive, for `timeout` seconds (None: for
    ever), and ends early when the library is released."""
    lib = session.require()
    deadline = None if timeout is None else time.monotonic() + timeout
    message = native.QMessage()
    while session.running() is lib:
        wait = _SLICE_MS
        if deadline is not None:
            left = deadline - time.monotonic()
            if left <= 0:
                return
            wait = min(wait, max(1, int(left * 1000)))
        if lib.qmsgGetMessage(ctypes.byref(message), wait):
            note = session.take(message)
            if note is not None:
                yield note


class AsyncNotifications:
    """An asynchronous iterator over the notifications, for `async for`.

    It watches the message layer's queue descriptor with loop.add_reader and
    takes what waits with qmsgPeekMessage, which also runs the library's
    timer.  Make it inside the running loop on the initialising thread; close
    it (or leave its `async with`) to stop watching.  Releasing the library
    ends it.  One at a time per thread: the descriptor has one reader.
    """

    def __init__(self):
        self._lib = session.require()
        self._fd = self._lib.qmsgQueueFd()
        if self._fd < 0:
            raise QapiError("the message layer has no queue descriptor for this thread")
        self._loop = asyncio.get_running_loop()
        self._pending = collections.deque()
        self._waiter = None
        self._message = native.QMessage()
        session.open_stream(self)
        self._loop.add_reader(self._fd, self._take)

    def _take(self):
        while self._lib.qmsgPeekMessage(ctypes.byref(self._message)):
            note = session.take(self._message)
            if note is not None:
                self._pending.append(note)
        self._wake()

    def _wake(self):
        if self._waiter is not None and not self._waiter.done():
            self._waiter.set_result(None)

    @property
    def closed(self):
        return self._fd is None

    def close(self):
        if self._fd is not None:
            self._loop.remove_reader(self._fd)
            self._fd = None
            session.close_stream(self)
            self._wake()

    def __aiter__(self):
        return self

    async def __anext__(self):
        while not self._pending:
            if self.closed:
                raise StopAsyncIteration
            self._waiter = self._loop.create_future()
            await self._waiter
        return self._pending.popleft()

    async def __aenter__(self):
        return self

    async def __aexit__(self, *exc):
        self.close()


def async_notifications():
    """An AsyncNotifications for the running loop:

        async with qapi.async_notifications() as stream:
            async for note in stream: ...
    """
    return AsyncNotifications()
