"""What the panel knows, fed by the library's notifications.

The state is kept as plain JSON-ready values in sections ("station",
"calls", "park", "records", "feed", "link", "routes", "lamps").  Every
change marks its section; take_changes() hands over what changed since the
last call, the lamps as the latest status of each lamp that changed, so
that a burst of status reports becomes one value per lamp.

The library's thread tells the state what happened and the web server's
thread reads it: every public method holds the state's lock, and a value
once published is replaced, never changed, so what full() and
take_changes() hand out stays as it was when they handed it out.
"""
import collections
import functools
import threading
import time

import qapi

REG_STATES = {0: "registering", 1: "registered", 2: "failed"}
CALL_STATES = {0: "idle", 1: "dialling", 2: "dial tone", 3: "calling", 4: "ringback", 6: "ringing",
               10: "connected", 12: "released"}
LAMP_STATUSES = {0: "unknown", 1: "idle", 2: "ringing", 3: "busy"}
ROUTE_SECONDS = 5        # a route question unanswered this long is past answering

# Each of the page's operations and the snapshot flag that allows it; None:
# allowed whenever the station is registered.
OPERATION_FLAGS = {
    "newcall": "can_newcall", "digits": "can_digits", "answer": "can_answer", "clear": "can_clear",
    "hold": "can_hold", "retrieve": "can_retrieve", "callback": "can_callback", "suspend": "can_suspend",
    "conference": "can_conference", "transfer": "can_transfer", "record_start": "can_record_start",
    "record_stop": "can_record_stop", "mailbox": "can_mailbox", "transfer_undo": "can_pickup",
    "pickup": "can_pickup", "deflect": None, "resume": None,
}


def call_state_name(state):
    return CALL_STATES.get(state, f"state {state}")


def lamp_status_name(status):
    return LAMP_STATUSES.get(status, f"status {status}")


def park_key(digits):
    """The key of a park-list line's first field: the server writes keys as
    decimal digits in the low nibbles with 15 in the others (701 is
    0xFFFFF701), and the line shows only the decimal nibbles.  None when
    the line shows no digit."""
    if not digits.isdigit() or len(digits) > 8:
        return None
    word = 0xFFFFFFFF
    for c in digits:
        word = (word << 4 | int(c)) & 0xFFFFFFFF
    return word - (1 << 32) if word & 0x80000000 else word


def _call_line(line):
    """A call-list line in its columns: the number (in some states), the
    two identifiers and the state's label."""
    return {"line": line, "number": line[0:4].strip(), "first": line[5:13].strip(), "second": line[14:22].strip(),
            "state": line[22:37].strip()}


def _station(snapshot):
    if snapshot is None:
        return {"reg": "registering", "status_text": None, "call_state": 0, "call_state_name": call_state_name(0),
                "alerting": False, "station_id": None, "allowed": {op: False for op in OPERATION_FLAGS},
                "indicators": [0, 0, 0]}
    registered = snapshot.reg_state == qapi.RegState.REGISTERED
    allowed = {op: registered if flag is None else bool(getattr(snapshot, flag))
               for op, flag in OPERATION_FLAGS.items()}
    return {"reg": REG_STATES.get(int(snapshot.reg_state), f"state {int(snapshot.reg_state)}"),
            "status_text": snapshot.status_text, "call_state": snapshot.call_state,
            "call_state_name": call_state_name(snapshot.call_state), "alerting": snapshot.is_alerting,
            "station_id": snapshot.station_id, "allowed": allowed,
            "indicators": [snapshot.indicator1, snapshot.indicator2, snapshot.indicator3]}


def _record(note):
    one_text = note.kind_letter in "BC"

    def party(number, text):
        return text or ("" if number == -1 else str(number))

    return {"when": f"{note.year:04}-{note.month:02}-{note.day:02} {note.hour:02}:{note.minute:02}:{note.second:02}",
            "kind": note.kind_letter, "duration": note.duration,
            "a": party(note.number_a, "" if one_text else note.text_a),
            "b": party(note.number_b, "" if one_text else note.text_b),
            "c": party(note.number_c, "" if one_text else note.text_c),
            "text": note.text if one_text else ""}


def _locked(method):
    @functools.wraps(method)
    def holding(self, *arguments):
        with self._lock:
            return method(self, *arguments)
    return holding


class PanelState:
    def __init__(self, station_id, watched, records_kept=20, feed=None, link=None, clock=time.monotonic):
        self.station_id = station_id
        self.watched = list(watched)
        self._clock = clock
        self.sections = {
            "station": _station(None),
            "display": "", "number": "",
            "calls": [], "park": [],
            "records": [],
            "feed": {"address": f"{feed[0]}:{feed[1]}", "state": "connecting", "text": None} if feed else None,
            "link": {"address": f"{link[0]}:{link[1]}", "state": "connecting", "text": None} if link else None,
            "routes": [],
        }
        self.lamps = {extension: 0 for extension in self.watched}
        self._records = collections.deque(maxlen=records_kept)
        self._routes = {}            # handle -> (the page's entry, deadline)
        self._dirty = set()
        self._dirty_lamps = {}
        self._lock = threading.RLock()

    # What the browsers are sent.
    @_locked
    def full(self):
        return dict(self.sections, lamps=self._lamps(self.lamps), order=self.watched, station_number=self.station_id,
                    lamp_names={str(status): name for status, name in LAMP_STATUSES.items()})

    @_locked
    def take_changes(self):
        """The sections changed since the last call (None: nothing did)."""
        self._expire_routes()
        if not self._dirty and not self._dirty_lamps:
            return None
        changes = {name: self.sections[name] for name in self._dirty}
        if self._dirty_lamps:
            changes["lamps"] = self._lamps(self._dirty_lamps)
        self._dirty, self._dirty_lamps = set(), {}
        return changes

    @staticmethod
    def _lamps(statuses):
        return {str(extension): status for extension, status in statuses.items()}

    def _set(self, name, value):
        if self.sections[name] != value:
            self.sections[name] = value
            self._dirty.add(name)

    # Notifications.
    @_locked
    def apply(self, note):
        kind = type(note)
        if kind is qapi.ExtensionStatus:
            if note.extension in self.lamps:
                self.lamps[note.extension] = note.status
                self._dirty_lamps[note.extension] = note.status
        elif kind is qapi.Snapshot:
            self._set("station", _station(note))
        elif kind is qapi.Text:
            self._set("display", note.text)
        elif kind is qapi.Number:
            self._set("number", note.text)
        elif kind is qapi.CallList:
            self._set("calls", [_call_line(line) for line in note.lines])
        elif kind is qapi.ParkList:
            self._set("park", [self._park_line(line) for line in note.lines])
        elif kind is qapi.CallRecord:
            self._records.append(_record(note))
            self._set("records", list(self._records))
        elif kind is qapi.FeedStatus:
            self.feed_state("failed" if note.state == qapi.FeedState.FAILED else "connected", note.text)
        elif kind is qapi.LinkStatus:
            state = {qapi.LinkState.UP: "up", qapi.LinkState.FAILED: "failed"}.get(note.state, "connecting")
            self.link_state(state, note.text)
            if state == "failed":
                self._routes.clear()
                self._publish_routes()
        elif kind is qapi.RouteRequest:
            self._routes[note.handle] = ({"handle": note.handle, "a": note.text_a or str(note.number_a),
                                          "b": note.text_b or str(note.number_b)},
                                         self._clock() + ROUTE_SECONDS)
            self._publish_routes()

    @staticmethod
    def _park_line(line):
        return {"line": line, "key": park_key(line.split(" ", 1)[0])}

    @_locked
    def feed_state(self, state, text=None):
        if self.sections["feed"] is not None:
            self._set("feed", dict(self.sections["feed"], state=state, text=text))

    @_locked
    def link_state(self, state, text=None):
        if self.sections["link"] is not None:
            self._set("link", dict(self.sections["link"], state=state, text=text))

    @_locked
    def route_answered(self, handle):
        if self._routes.pop(handle, None) is not None:
            self._publish_routes()

    def _expire_routes(self):
        now = self._clock()
        late = [handle for handle, (_, deadline) in self._routes.items() if deadline <= now]
        for handle in late:
            del self._routes[handle]
        if late:
            self._publish_routes()

    def _publish_routes(self):
        self._set("routes", [entry for entry, _ in self._routes.values()])
