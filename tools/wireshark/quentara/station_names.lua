-- Names of the station protocol's numbers: record and request types,
-- sub-codes, call states, feature keys, flag bits.
if not ... then return end  -- found by Wireshark's plugin scan: quentara.lua loads it

local names = {}

-- Records from the server.
names.RECORD = {
    REEVALUATE = 4,
    REEVALUATE_TOO = 9,
    REGISTRATION_REPLY = 0x81,
    STATUS_REPLY = 0x83,
    REGISTRATION_REFUSED = 0xBE,
    ACKNOWLEDGE = 0xBF,
    CALL_EVENT = 0xC0,
    STATION_EVENT = 0xC1,
    NUMBER = 0xC2,
    EXTENSION_STATUS = 0xC3,
    INFO_VALUE = 0xC4,
    PARK_LIST = 0xC5,
    CALL_ENTRY = 0xC6,
    FLAGS_UPDATE = 0xC7,
    DISPLAY_TEXT = 0xC8,
}

names.record_types = {
    [4] = "Re-evaluation",
    [9] = "Re-evaluation",
    [0x81] = "Registration reply",
    [0x83] = "Status reply",
    [0xBE] = "Registration refused",
    [0xBF] = "Acknowledge",
    [0xC0] = "Call event",
    [0xC1] = "Station event",
    [0xC2] = "Number",
    [0xC3] = "Extension status",
    [0xC4] = "Info value",
    [0xC5] = "Park list",
    [0xC6] = "Call entry",
    [0xC7] = "Flags update",
    [0xC8] = "Display text",
}

-- Requests from a station.
names.REQUEST = {
    REGISTER = 1,
    NEW_CALL = 4,
    KEEP_ALIVE = 5,
    FEATURE_KEY = 16,
    DEFLECT = 17,
    ANSWER_WATCHED = 19,
    INTRUDE_WATCHED = 20,
    RESUME = 21,
    TAKE_BACK = 23,
    WATCH_LIST = 24,
    DIAL_DIGITS = 25,
}

names.request_types = {
    [1] = "Registration",
    [4] = "New call",
    [5] = "Keep-alive",
    [16] = "Feature key",
    [17] = "Deflect",
    [19] = "Answer watched extension",
    [20] = "Intrude on watched extension",
    [21] = "Resume parked call",
    [23] = "Take back call",
    [24] = "Watch list",
    [25] = "Dial digits",
}

names.feature_keys = {
    [160] = "Clear",
    [161] = "Hold",
    [162] = "Conference",
    [163] = "Transfer",
    [164] = "Retrieve",
    [165] = "Call back",
    [167] = "Answer",
    [171] = "Suspend (park)",
    [172] = "Mailbox",
    [173] = "Record start",
    [174] = "Record stop",
}

-- A station's call state, as registration and status replies carry it and
-- as the events lead to it; any other value allows clear and retrieve only.
names.station_states = {
    [0] = "Idle",
    [1] = "Dialling",
    [2] = "Dial tone",
    [3] = "Routing",
    [4] = "Ringback",
    [6] = "Alerting",
    [7] = "Active",
    [9] = "Answerable",
    [10] = "Talking",
    [12] = "Cleared",
    [25] = "Camped",
}

-- The server's own call state in an event; 30 has handling of its own.
names.SERVER_STATE_SPECIAL = 30

names.call_event_subs = {
    [1] = "Idle",
    [2] = "Cleared",
    [3] = "Dial tone",
    [4] = "Routing",
    [5] = "Released",
    [6] = "Alerting",
    [7] = "Ringback",
    [8] = "Answered",
    [12] = "Indicator",
    [13] = "Connected",
    [15] = "Key",
    [23] = "Event value",
    [34] = "Talking",
}

-- The station state a call event's sub-code leads to.
names.call_event_state = { [1] = 0, [5] = 0, [2] = 12, [3] = 2, [4] = 3, [6] = 6, [7] = 4, [8] = 10, [13] = 10,
    [34] = 10 }
-- Sub-codes after which the station keeps the server's state of the event.
names.call_event_keeps_server_state = { [12] = true, [15] = true, [23] = true }

names.station_event_subs = {
    [1] = "Dialling",
    [2] = "Digit",
    [4] = "Hang-up",
    [9] = "Release",
    [10] = "Talking",
    [16] = "Disconnect",
}
names.station_event_state = { [1] = 1, [10] = 10 }
-- Sub-codes that end the call unless the far end is still connected.
names.station_event_ends = { [4] = true, [9] = true, [16] = true }
names.STATION_EVENT_DIGIT = 2
names.DIGIT_NOT_SHOWN = 0x0B  -- the high byte of a digit event's word that hides it

names.CALL_EVENT_INDICATOR = 12
names.CALL_EVENT_KEY = 15
names.CALL_EVENT_VALUE = 23
names.indicator_codes = {
    [0] = "Indicator 1 on",
    [1] = "Indicator 1 off",
    [121] = "Indicator 2 on",
    [122] = "Indicator 2 off",
    [66] = "Indicator 3 on",
    [67] = "Indicator 3 off",
    [128] = "Indicator 3 off",
}

names.refusal_reasons = {
    [1] = "User or IP address invalid",
    [2] = "Multiple users with same IP",
}

-- The states of a call in a station's call list; a call in any other state
-- leaves the list.
names.call_states = {
    [1] = "Routing",
    [2] = "Routing",
    [3] = "Routing",
    [4] = "Routing",
    [5] = "Seized",
    [6] = "Routed",
    [7] = "Active",
    [25] = "Camped",
}
-- The same for every value: the others take the call off the list.
names.call_states_shown = {}
for state = 0, 255 do names.call_states_shown[state] = names.call_states[state] or "Not listed" end
-- States whose line shows the call's number.
names.call_state_numbered = { [5] = true, [25] = true }

-- Statuses of a watched extension that an operation needs.
names.extension_statuses = {
    [2] = "its call may be answered",
    [3] = "its call may be intruded on",
}

-- The call flags' bits.
names.flags = {
    { "connected", "Connected", 0x1 },
    { "callback", "Call back instead of conference", 0x2 },
    { "transferable", "Transfer while the far end clears", 0x10 },
    { "mailbox", "Mailbox", 0x20 },
    { "record_start", "Recording may start", 0x40 },
    { "recording", "Recording", 0x80 },
    { "call_allowed", "Calls allowed (new call, answer)", 0x100 },
    { "blocked", "Blocked (every other bit void)", 0x200 },
}
names.FLAGS_OTHER = 0xFFFFFC0C

names.NO_REFERENCE = 0xFFFF
names.BROADCAST = 0xFFFFFFFF
names.SEQUENCE_QUEUED = 0x80

return names
