"""Stations, call-record feeds and routing links: the library's handles as objects.

Each object takes its notifications through a window of its own, so that
every notification names its source.  An operation the library refuses
raises RefusedError; an object that was stopped (or whose library was
released) raises BadHandleError without calling the library.  Every object
is a context manager that stops it at the end.
"""
from . import session
from .errors import BadHandleError, RefusedError

_QUEUE_FULL = "or 63 requests wait already"
_NOT_ALLOWED = "the station is not registered, its last snapshot does not allow {}, " + _QUEUE_FULL
_STATION_START = "a live station has this identifier, 512 stations are live, or the station endpoint cannot be opened"
_REASONS = {
    "QAPI_Client_start": _STATION_START,
    "QAPI_Client_start_Thread": _STATION_START,
    "QAPI_Cmdr_start": "the connection cannot be made, or 32 feeds are open",
    "QAPI_Adjunct_start": "the host cannot be reached, or 8 links are open",
    "QAPI_Client_newcall": _NOT_ALLOWED.format("a new call (can_newcall)"),
    "QAPI_Client_digits": "the text holds no dial character, or " + _NOT_ALLOWED.format("digits (can_digits)"),
    "QAPI_Client_transfer_undo": "the text holds no number, or " + _NOT_ALLOWED.format("taking back (can_pickup)"),
    "QAPI_Client_deflect": "the text holds no dial character, " + _QUEUE_FULL,
    "QAPI_Client_bdp_register": "512 extensions are watched",
    "QAPI_Client_bdp_answer": "the extension is not watched or its last status is not 2, " + _QUEUE_FULL,
    "QAPI_Client_bdp_intrude": "the extension is not watched or its last status is not 3, " + _QUEUE_FULL,
    "QAPI_Client_resume": "the last park list holds no call under this key, " + _QUEUE_FULL,
    "QAPI_Adjunct_response": "the request is unknown, already answered or 5 seconds old, "
                             "or the answer could not be sent",
}
_FEATURE_KEYS = {"answer": "can_answer", "clear": "can_clear", "hold": "can_hold", "retrieve": "can_retrieve",
                 "callb": "can_callback", "suspend": "can_suspend", "conference": "can_conference",
                 "transfer": "can_transfer", "record_start": "can_record_start",
                 "record_stop": "can_record_stop", "mailbox": "can_mailbox"}
for _key, _flag in _FEATURE_KEYS.items():
    _REASONS[f"QAPI_Client_{_key}"] = _NOT_ALLOWED.format(f"it ({_flag})")


def _int32(name, value):
    if not -0x80000000 <= value <= 0x7FFFFFFF:
        raise ValueError(f"{name} {value} does not fit 32 bits")
    return value


def _bytes(text):
    """A text argument as the library takes it: str (Latin-1) or bytes, or None."""
    return text.encode("latin-1") if isinstance(text, str) else text


class _Handle:
    _STOP = ""

    def __init__(self, start_name, *arguments, window=True):
        lib = session.require()
        self._window = lib.qmsgCreateWindow() if window else 0
        target = self._window if window else lib.qmsgCurrentThreadId()
        self._handle = getattr(lib, start_name)(target, *arguments)
        if not self._handle:
            if window:
                lib.qmsgDestroyWindow(self._window)
            raise RefusedError(start_name, _REASONS[start_name])
        self._generation = session.generation()
        session.adopt(self, self._window)

    @property
    def live(self):
        """False once stopped, or once the library was released or initialised again."""
        return self._handle is not None and self._generation == session.generation()

    def _lib(self):
        lib = session.require()
        if not self.live:
            raise BadHandleError(f"{self!r} is stopped")
        return lib

    def _call(self, operation, *arguments):
        lib = self._lib()
        if getattr(lib, operation)(self._handle, *arguments) != 0:
            raise RefusedError(operation, _REASONS[operation])

    def stop(self):
        """Stops it and frees its handle; its notifications still queued are dropped."""
        lib = self._lib()
        stopped = getattr(lib, self._STOP)(self._handle) == 0
        self._forget()
        if not stopped:
            raise BadHandleError(f"{self._STOP}: the library no longer knew {self!r}")

    def _forget(self):
        session.disown(self, self._window)
        self._handle = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.live:
            self.stop()


class Station(_Handle):
    """A station client: registers station `station_id` (-1: the identifier
    the server's registration reply gives) and keeps it registered.

    With to_thread=True its notifications are thread messages (their source
    is None).  `snapshot` is the last Snapshot received for it, or None.
    """
    _STOP = "QAPI_Client_stop"

    def __init__(self, station_id=-1, *, to_thread=False):
        self.station_id = _int32("station_id", station_id)
        self.snapshot = None
        start = "QAPI_Client_start_Thread" if to_thread else "QAPI_Client_start"
        super().__init__(start, station_id, window=not to_thread)

    def __repr__(self):
        return f"Station({self.station_id})"

    def newcall(self, digits=None):
        """Starts a call, dialing `digits` (None: none)."""
        self._call("QAPI_Client_newcall", _bytes(digits))

    def digits(self, digits):
        """Dials further digits."""
        self._call("QAPI_Client_digits", _bytes(digits))

    def transfer_undo(self, number):
        """Takes back the call of the call list numbered `number` (e.g. "0042" or 42)."""
        self._call("QAPI_Client_transfer_undo", _bytes(str(number) if isinstance(number, int) else number))

    def deflect(self, digits):
        """Deflects the present call to `digits`."""
        self._call("QAPI_Client_deflect", _bytes(digits))

    def bdp_register(self, extension, on=True):
        """Watches `extension` (on=False: stops watching it)."""
        self._call("QAPI_Client_bdp_register", _int32("extension", extension), 1 if on else 0)

    def bdp_answer(self, extension):
        """Answers the call of a watched extension whose last status is 2."""
        self._call("QAPI_Client_bdp_answer", _int32("extension", extension))

    def bdp_intrude(self, extension):
        """Intrudes on a watched extension whose last status is 3."""
        self._call("QAPI_Client_bdp_intrude", _int32("extension", extension))

    def resume(self, key):
        """Takes the parked call whose key (first word of its park-list line) is `key`."""
        self._call("QAPI_Client_resume", _int32("key", key))


def _feature_key(name, flag):
    def operation(self):
        self._call(f"QAPI_Client_{name}")
    operation.__name__ = name
    operation.__doc__ = f"The {name} feature key; allowed while the last snapshot's {flag} is set."
    return operation


for _key, _flag in _FEATURE_KEYS.items():
    setattr(Station, _key, _feature_key(_key, _flag))


class _Connection(_Handle):
    """A handle connected to the server at `host` (name, IPv4 or IPv6) and `port`."""
    _START = ""

    def __init__(self, host, port):
        if host is None:
            raise ValueError("a host is needed")
        self.host, self.port = host, port
        super().__init__(self._START, _bytes(host), port)

    def __repr__(self):
        return f"{type(self).__name__}({self.host!r}, {self.port})"


class CallRecordFeed(_Connection):
    """A feed of call records from the server at `host` and `port`:
    CallRecord notifications, and one FeedStatus if it fails."""
    _START, _STOP = "QAPI_Cmdr_start", "QAPI_Cmdr_stop"


class RoutingLink(_Connection):
    """A routing adjunct link to the server at `host` and `port`: LinkStatus
    and RouteRequest notifications."""
    _START, _STOP = "QAPI_Adjunct_start", "QAPI_Adjunct_stop"

    def response(self, handle, digits, value=0):
        """Answers route request `handle` (RouteRequest.handle) with the dial
        characters of `digits` (None: none) and `value`, within 5 seconds."""
        if not 0 <= handle <= 0xFFFFFFFF:
            raise ValueError(f"handle {handle} does not fit 32 bits")
        self._call("QAPI_Adjunct_response", handle, _bytes(digits), _int32("value", value))
