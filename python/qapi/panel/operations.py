"""The page's commands, carried out on the operator's station.

A command is a JSON object {"op": NAME, ...}; every one is checked here
before the library sees it, and every outcome is a reply the page shows:
{"ok": true} or {"ok": false, "text": "Answer refused: ..."}.  The check
needs no library and runs on the web server's thread; what passes it is
carried out on the library's.
"""
import qapi

# op: (label, the Station method, the argument it takes)
_FEATURE_KEYS = {
    "answer": "Answer", "clear": "Clear", "hold": "Hold", "retrieve": "Retrieve", "callback": "Callback",
    "suspend": "Suspend", "conference": "Conference", "transfer": "Transfer", "record_start": "Record",
    "record_stop": "Stop recording", "mailbox": "Mailbox",
}
_METHODS = {"callback": "callb"}
_TEXT_OPS = {"newcall": "Call", "digits": "Dial", "deflect": "Deflect", "transfer_undo": "Take back"}
_EXTENSION_OPS = {"bdp_answer": "Pick up", "bdp_intrude": "Intrude"}
MAX_TEXT = 32            # the library reads no more of a dial text


class CommandError(ValueError):
    """A command the page should never send: it is answered, not carried out."""


def _text(command, name, required=True):
    value = command.get(name)
    if value is None and not required:
        return None
    if not isinstance(value, str) or len(value) > MAX_TEXT:
        raise CommandError(f"{name} must be a text of at most {MAX_TEXT} characters")
    try:
        value.encode("latin-1")
    except UnicodeEncodeError:
        raise CommandError(f"{name} holds characters no telephone dials")
    return value


def _integer(command, name):
    value = command.get(name)
    if type(value) is not int:
        raise CommandError(f"{name} must be a whole number")
    return value


class Operations:
    """Carries out commands on `station` (a qapi.Station), `link` (a
    RoutingLink or None, looked up at each call) and tells `state`."""

    def __init__(self, station, state, link=lambda: None):
        self.station = station
        self.state = state
        self.link = link

    def prepare(self, command):
        """Checks `command`, on any thread: (reply, None) for a command
        answered as it stands, or (None, job), where job() carries it out on
        the library's thread and returns the reply."""
        if not isinstance(command, dict) or not isinstance(command.get("op"), str):
            return {"ok": False, "text": "A command names its op"}, None
        op = command["op"]
        try:
            label, run = self._prepare(op, command)
        except CommandError as e:
            return {"ok": False, "text": f"{op}: {e}"}, None
        return None, lambda: self._carry_out(label, run)

    @staticmethod
    def _carry_out(label, run):
        try:
            run()
        except qapi.RefusedError as e:
            return {"ok": False, "text": f"{label} refused: {e.reason}"}
        except (qapi.QapiError, ValueError) as e:
            return {"ok": False, "text": f"{label} failed: {e}"}
        return {"ok": True, "text": f"{label}: sent"}

    def _prepare(self, op, command):
        s = self.station
        if op in _FEATURE_KEYS:
            return _FEATURE_KEYS[op], getattr(s, _METHODS.get(op, op))
        if op in _TEXT_OPS:
            text = _text(command, "digits", required=op != "newcall")
            if op != "newcall" and not text:
                raise CommandError("needs a number")
            return _TEXT_OPS[op], lambda: getattr(s, op)(text or None)
        if op in _EXTENSION_OPS:
            extension = _integer(command, "extension")
            if extension not in self.state.lamps:
                raise CommandError(f"extension {extension} is not on the panel")
            return f"{_EXTENSION_OPS[op]} {extension}", lambda: getattr(s, op)(extension)
        if op == "resume":
            key = _integer(command, "key")
            return "Resume", lambda: s.resume(key)
        if op == "route":
            return "Route", self._route(_integer(command, "handle"), _text(command, "digits"))
        raise CommandError("is no operation of the panel")

    def _route(self, handle, digits):
        def run():
            link = self.link()
            if link is None:
                raise qapi.QapiError("no routing link is open")
            link.response(handle, digits or None)
            self.state.route_answered(handle)
        return run
