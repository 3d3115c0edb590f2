"""What the library reports, decoded into frozen dataclasses.

Every notification is decoded the moment it is taken from the queue: its
fields are copied out of the library's rotating payload buffer into plain
Python values, so a notification stays valid however long it is kept.
Fields carry the payload's names in snake_case (`numberA` is `number_a`);
texts are `str`, each byte one character (Latin-1), so every byte the server
sent is kept.  `source` is the Station, CallRecordFeed or RoutingLink the
notification came from (None for a station started with to_thread=True:
thread messages do not say which station posted them).
"""
import ctypes
import dataclasses
import enum
from dataclasses import dataclass
from typing import Any, Optional, Tuple, Union

from ._layout import TEXT_BLOCK, native

NOTIFY_MSG = 49000


class NotifyCode(enum.IntEnum):
    SNAPSHOT = 1
    KEY = 2
    DIGIT = 3
    NUMBER = 4
    TEXT = 5
    EXTENSION = 6
    CALL_LIST = 7
    PARK_LIST = 8
    CMDR_STATUS = 100
    CMDR_RECORD = 101
    ADJUNCT_STATUS = 200
    ROUTE_REQUEST = 201
    HEARTBEAT = 1000


class RegState(enum.IntEnum):
    REGISTERING = 0
    REGISTERED = 1
    FAILED = 2


class FeedState(enum.IntEnum):
    RUNNING = 1
    FAILED = 2


class LinkState(enum.IntEnum):
    CONNECTING = 0
    UP = 1
    FAILED = 2


@dataclass(frozen=True)
class Notification:
    source: Any


@dataclass(frozen=True)
class Snapshot(Notification):
    """A station's status as it stood when the library posted it; the can_*
    flags say which operations the station allows now."""
    reg_state: Union[RegState, int]
    status_text: Optional[str]
    call_state: int
    event_value: int
    info_value: int
    can_newcall: bool
    can_digits: bool
    is_alerting: bool
    can_answer: bool
    can_clear: bool
    can_hold: bool
    can_retrieve: bool
    can_callback: bool
    can_suspend: bool
    can_conference: bool
    can_transfer: bool
    can_record_start: bool
    can_record_stop: bool
    can_mailbox: bool
    can_pickup: bool
    indicator1: int
    indicator2: int
    indicator3: int
    station_id: int
    reg_values: Tuple[int, int, int, int]
    reg_short: int


@dataclass(frozen=True)
class Key(Notification):
    char: Optional[str]  # the dial character, None when the server sent none


@dataclass(frozen=True)
class Digit(Notification):
    char: str


@dataclass(frozen=True)
class Number(Notification):
    text: str  # the number the server sent


@dataclass(frozen=True)
class Text(Notification):
    text: str  # a display text, or the digits dialed so far


@dataclass(frozen=True)
class ExtensionStatus(Notification):
    extension: int
    status: int  # 2: its call can be answered, 3: it can be intruded on


@dataclass(frozen=True)
class CallList(Notification):
    lines: Tuple[str, ...]


@dataclass(frozen=True)
class ParkList(Notification):
    lines: Tuple[str, ...]


@dataclass(frozen=True)
class FeedStatus(Notification):
    state: Union[FeedState, int]
    text: Optional[str]


@dataclass(frozen=True)
class LinkStatus(Notification):
    state: Union[LinkState, int]
    text: Optional[str]


@dataclass(frozen=True)
class _Dated(Notification):
    second: int
    minute: int
    hour: int
    day: int
    month: int
    year: int


@dataclass(frozen=True)
class CallRecord(_Dated):
    """One call record.  Kinds 1 and 2 ('B', 'C') carry `text`; the others
    the three dial texts; what a kind does not fill is "" (numbers -1)."""
    kind_letter: str
    duration: int
    number_a: int
    number_b: int
    number_c: int
    text_a: str
    text_b: str
    text_c: str
    text: str
    word_a: int
    word_b: int
    value_a: int
    value_b: int
    address_text: str
    number_d: int
    server_address_text: str

    @property
    def kind(self) -> int:
        return ord(self.kind_letter) - ord("A")


@dataclass(frozen=True)
class RouteRequest(_Dated):
    """A question where to route a call: answer it with
    source.response(handle, digits, value) within 5 seconds.  The date is
    the server's as sent (a month or day of 0 stays 0)."""
    handle: int
    number_b: int
    number_a: int
    text_a: str
    text_b: str


@dataclass(frozen=True)
class Heartbeat(Notification):
    """Once a second per station."""


@dataclass(frozen=True)
class Unknown(Notification):
    """A notification code this package does not know, or a payload missing."""
    code: int
    value: int


def _text(address):
    return ctypes.string_at(address).decode("latin-1") if address else None


def _camel(name):
    head, *rest = name.split("_")
    return head + "".join(part.capitalize() for part in rest)


def _copy(cls, record, source, **given):
    """cls from the C record's fields of the same names, converted to Python
    values; `given` supplies the fields that need more than a copy."""
    values = dict(given, source=source)
    for f in dataclasses.fields(cls):
        if f.name in values:
            continue
        value = getattr(record, _camel(f.name))
        if isinstance(value, bytes):
            value = value.decode("latin-1")
        elif isinstance(value, ctypes.Array):
            value = tuple(value)
        elif f.type is bool:
            value = bool(value)
        values[f.name] = value
    return cls(**values)


def _state(kind, value):
    try:
        return kind(value)
    except ValueError:
        return value


def _lines(cls, address, source):
    lines = []
    for line in native.QapiLineList.from_address(address).lines:
        if not line:
            break
        lines.append((ctypes.c_char * TEXT_BLOCK).from_address(line).value.decode("latin-1"))
    return cls(source, tuple(lines))


def _snapshot(address, source):
    s = native.QapiStatusSnapshot.from_address(address)
    return _copy(Snapshot, s, source, reg_state=_state(RegState, s.regState), status_text=_text(s.statusText))


def _status(cls, kind, address, source):
    s = native.QapiStatusPayload.from_address(address)
    return cls(source, _state(kind, s.state), _text(s.statusText))


def _record(address, source):
    r = native.QapiCmdrRecordPayload.from_address(address)
    one_text = r.kindLetter in b"BC"
    dial = r.texts.dial

    def text(value, wanted):
        return value.decode("latin-1") if wanted else ""

    return _copy(CallRecord, r, source, kind_letter=chr(r.kindLetter), text=text(r.texts.text, one_text),
                 text_a=text(dial.textA, not one_text), text_b=text(dial.textB, not one_text),
                 text_c=text(dial.textC, not one_text))


_POINTER_PAYLOADS = {
    NotifyCode.SNAPSHOT: _snapshot,
    NotifyCode.NUMBER: lambda a, s: Number(s, _text(a)),
    NotifyCode.TEXT: lambda a, s: Text(s, _text(a)),
    NotifyCode.EXTENSION: lambda a, s: _copy(ExtensionStatus, native.QapiExtensionStatus.from_address(a), s),
    NotifyCode.CALL_LIST: lambda a, s: _lines(CallList, a, s),
    NotifyCode.PARK_LIST: lambda a, s: _lines(ParkList, a, s),
    NotifyCode.CMDR_STATUS: lambda a, s: _status(FeedStatus, FeedState, a, s),
    NotifyCode.CMDR_RECORD: _record,
    NotifyCode.ADJUNCT_STATUS: lambda a, s: _status(LinkStatus, LinkState, a, s),
    NotifyCode.ROUTE_REQUEST: lambda a, s: _copy(RouteRequest, native.QapiRouteRequestPayload.from_address(a), s),
}


def decode(code, value, source):
    """The notification of wParam `code` and lParam `value`, copied out now."""
    payload = _POINTER_PAYLOADS.get(code)
    if payload:
        return payload(value, source) if value else Unknown(source, code, value)
    if code == NotifyCode.KEY:
        return Key(source, None if value == 255 else chr(value & 0xFF))
    if code == NotifyCode.DIGIT:
        return Digit(source, chr(value & 0xFF))
    if code == NotifyCode.HEARTBEAT:
        return Heartbeat(source)
    return Unknown(source, code, value)
