"""Starting and stopping the library on the calling thread.

The library has one state per process and runs on the thread that
initialised it: its 100 ms timer fires inside that thread's message loop
(qapi.notifications() or qapi.async_notifications()), its notifications land
in that thread's queue, and every call must come from that thread.
"""
import threading

from . import _loader
from .errors import NotInitializedError, QapiError, RefusedError, WrongThreadError
from .notifications import NOTIFY_MSG, Snapshot, decode


class _State:
    def __init__(self):
        self.lib = None
        self.thread = None     # the initialising thread's ident while initialised
        self.generation = 0    # counts starts and releases: older handles are dead
        self.windows = {}      # window -> the live object whose notifications it takes
        self.thread_started = set()  # live stations whose notifications are thread messages
        self.streams = set()   # open asynchronous streams


_state = _State()


def require():
    """The loaded library (ctypes.CDLL) while initialised, for the handle objects."""
    if _state.thread is None:
        raise NotInitializedError("the library is not initialised: call qapi.initialize() first")
    if threading.get_ident() != _state.thread:
        raise WrongThreadError("the library runs on the thread that initialised it; call it from there")
    return _state.lib


class Session:
    """What initialize() returns: a context manager that releases the library."""

    def __init__(self, port, path):
        self.port = port
        self.library_path = path

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        release()

    def __repr__(self):
        return f"<qapi session on port {self.port}, {self.library_path}>"


def initialize(port=5001, library=None):
    """Loads libqapi (see README: $QAPI_LIBRARY, the build tree, the system)
    and starts it on the calling thread with the station protocol's UDP
    `port`.  Initialising again stops every station, feed and link first.
    `library` names the file to load instead; once loaded, the library stays.
    Returns a Session; `with qapi.initialize(...):` releases at the end."""
    if _state.lib is None:
        _state.lib = _loader.load(library)
    elif library and library != _state.lib._name:
        raise QapiError(f"{_state.lib._name} is loaded already; it cannot be exchanged for {library}")
    if _state.thread is not None:
        require()  # only the initialising thread may start it again
        _forget_everything()
    if _state.lib.QAPI_Stack_initialize(port) != 0:
        _state.thread = None
        raise RefusedError("QAPI_Stack_initialize", "the socket library failed to start")
    _state.thread = threading.get_ident()
    return Session(port, _state.lib._name)


def release():
    """Stops the library: every station, feed and link stops, and their
    objects raise BadHandleError from then on.  Does nothing when the
    library is not initialised."""
    if _state.thread is None:
        return
    require()
    _forget_everything()
    for stream in list(_state.streams):
        stream.close()
    _state.lib.QAPI_Stack_release()
    _state.thread = None


def _forget_everything():
    """The library drops every handle now: the objects die with it."""
    for owner in list(_state.windows.values()) + list(_state.thread_started):
        owner._forget()
    _state.generation += 1


def adopt(owner, window):
    if window:
        _state.windows[window] = owner
    else:
        _state.thread_started.add(owner)


def disown(owner, window):
    if window:
        _state.windows.pop(window, None)
        _state.lib.qmsgDestroyWindow(window)
    else:
        _state.thread_started.discard(owner)


def running():
    """The loaded library while initialised, else None."""
    return _state.lib if _state.thread is not None else None


def open_stream(stream):
    if _state.streams:
        raise QapiError("an asynchronous stream is open already: the queue descriptor has one reader")
    _state.streams.add(stream)


def close_stream(stream):
    _state.streams.discard(stream)


def generation():
    return _state.generation


def take(message):
    """The decoded notification of a message taken from the queue, or None
    for anything else: other messages, and notifications of objects already
    stopped."""
    if message.message != NOTIFY_MSG:
        return None
    source = None
    if message.window:
        source = _state.windows.get(message.window)
        if source is None:
            return None
    note = decode(message.wParam, message.lParam, source)
    if isinstance(note, Snapshot) and source is not None:
        source.snapshot = note
    return note
