-- The station protocol's Wireshark protocol, its fields and its expert
-- infos.
if not ... then return end  -- found by Wireshark's plugin scan: quentara.lua loads it

local names = require("quentara.station_names")
local wire = require("quentara.wire")

local proto = Proto("qstation", "Quentara Station Protocol")

local f = {
    -- Records from the server.
    record = ProtoField.none("qstation.record", "Record"),
    dest = ProtoField.ipv4("qstation.dest", "Destination"),
    type = ProtoField.uint8("qstation.type", "Type", base.HEX, names.record_types),
    sub = ProtoField.uint8("qstation.sub", "Sub", base.HEX),
    extra = ProtoField.uint8("qstation.extra", "Extra", base.HEX),
    length = ProtoField.uint8("qstation.length", "Length (words)", base.DEC),
    station = ProtoField.int32("qstation.station", "Station", base.DEC),
    end_mark = ProtoField.none("qstation.end", "End of records"),
    state = ProtoField.uint8("qstation.state", "Station call state", base.DEC, names.station_states),
    token = ProtoField.uint32("qstation.token", "Registration token", base.HEX),
    flags = ProtoField.uint32("qstation.flags", "Call flags", base.HEX),
    flags_other = ProtoField.uint32("qstation.flags.other", "Other bits", base.HEX, nil, names.FLAGS_OTHER),
    reg_short = ProtoField.int16("qstation.reg_short", "Registration short", base.DEC),
    reg_value = ProtoField.int32("qstation.reg_value", "Registration value", base.DEC),
    unused = ProtoField.bytes("qstation.unused", "Not read"),
    refusal = ProtoField.uint8("qstation.refusal", "Reason", base.DEC, names.refusal_reasons),
    seq = ProtoField.uint8("qstation.seq", "Sequence", base.HEX),
    seq_queued = ProtoField.bool("qstation.seq.queued", "Queued (sent again until acknowledged)", 8, nil,
        names.SEQUENCE_QUEUED),
    seq_slot = ProtoField.uint8("qstation.seq.slot", "Slot", base.DEC, nil, 0x7F),
    call_sub = ProtoField.uint8("qstation.event.call_sub", "Call event", base.DEC, names.call_event_subs),
    station_sub = ProtoField.uint8("qstation.event.station_sub", "Station event", base.DEC,
        names.station_event_subs),
    word = ProtoField.uint16("qstation.event.word", "Event word", base.HEX),
    indicator = ProtoField.uint8("qstation.event.indicator", "Indicator code", base.DEC, names.indicator_codes),
    key = ProtoField.string("qstation.event.key", "Key"),
    digit = ProtoField.string("qstation.event.digit", "Digit"),
    value = ProtoField.uint16("qstation.event.value", "Event value", base.DEC),
    server_state = ProtoField.uint8("qstation.event.server_state", "Server call state", base.DEC),
    ref = ProtoField.uint16("qstation.event.ref", "Reference", base.HEX),
    leads_to = ProtoField.uint8("qstation.event.leads_to", "Station call state after it", base.DEC,
        names.station_states),
    number_kind = ProtoField.uint8("qstation.number.kind", "Number kind", base.DEC, { [0] = "Plain" }),
    number = ProtoField.string("qstation.number", "Number"),
    ext = ProtoField.int32("qstation.ext", "Extension", base.DEC),
    ext_status = ProtoField.uint8("qstation.ext.status", "Extension status", base.DEC),
    info_value = ProtoField.uint8("qstation.info_value", "Info value", base.DEC),
    park_count = ProtoField.uint32("qstation.park.count", "Parked calls", base.DEC),
    park_entry = ProtoField.none("qstation.park.entry", "Parked call"),
    park_key = ProtoField.uint32("qstation.park.key", "Key", base.HEX),
    park_shown = ProtoField.uint32("qstation.park.shown", "Shown word", base.HEX),
    park_other = ProtoField.uint32("qstation.park.other", "Third word", base.HEX),
    park_line = ProtoField.string("qstation.park.line", "Listed as"),
    call_state = ProtoField.uint8("qstation.call.state", "Call state", base.DEC, names.call_states_shown),
    call_number = ProtoField.uint16("qstation.call.number", "Call number", base.DEC),
    call_first = ProtoField.uint32("qstation.call.first_id", "First identifier", base.HEX),
    call_second = ProtoField.uint32("qstation.call.second_id", "Second identifier", base.HEX),
    call_line = ProtoField.string("qstation.call.line", "Listed as"),
    text = ProtoField.string("qstation.text", "Text"),
    trailing = ProtoField.bytes("qstation.trailing", "Bytes after the records"),
    -- Requests from a station.
    request = ProtoField.none("qstation.request", "Request"),
    req_type = ProtoField.uint8("qstation.req.type", "Request type", base.DEC, names.request_types),
    req_code = ProtoField.uint16("qstation.req.code", "Code", base.DEC),
    feature = ProtoField.uint16("qstation.req.feature", "Feature key", base.DEC, names.feature_keys),
    take_back = ProtoField.uint32("qstation.req.call_number", "Call number (code - 1)", base.DEC),
    digits = ProtoField.string("qstation.req.digits", "Digits"),
    payload = ProtoField.bytes("qstation.req.payload", "Payload"),
}
for _, bit in ipairs(names.flags) do
    f["flag_" .. bit[1]] = ProtoField.bool("qstation.flags." .. bit[1], bit[2], 32, nil, bit[3])
end

local function ex(abbr, text, group, severity)
    return ProtoExpert.new("qstation." .. abbr, text, group, severity)
end

local e = {
    too_short = ex("too_short", "Datagram shorter than a record header", expert.group.MALFORMED,
        expert.severity.ERROR),
    past_end = ex("past_end", "Record runs past the end of the datagram", expert.group.MALFORMED,
        expert.severity.ERROR),
    short_record = ex("short_record", "Record shorter than its type's layout", expert.group.MALFORMED,
        expert.severity.WARN),
    zero_length = ex("zero_length", "Length 0: the next record is read from inside this one",
        expert.group.MALFORMED, expert.severity.ERROR),
    trailing = ex("trailing", "Bytes after the last record, fewer than a header: not read",
        expert.group.PROTOCOL, expert.severity.NOTE),
    after_end = ex("after_end", "Bytes after the end mark: not read", expert.group.PROTOCOL, expert.severity.NOTE),
    cut = ex("cut", "Packet cut short by the capture", expert.group.SEQUENCE, expert.severity.NOTE),
    oversize = ex("oversize", "Datagram longer than the 1024 bytes a station reads: dropped whole",
        expert.group.PROTOCOL, expert.severity.WARN),
    scope = ex("scope", "Record type not taken with this destination", expert.group.PROTOCOL,
        expert.severity.NOTE),
    ignored = ex("ignored", "Record not taken as it stands", expert.group.PROTOCOL, expert.severity.WARN),
    unknown_type = ex("unknown_type", "Record type not known", expert.group.UNDECODED, expert.severity.NOTE),
    request_short = ex("request.short", "Request shorter than its type's layout", expert.group.MALFORMED,
        expert.severity.ERROR),
    request_length = ex("request.length", "Request of another length than its type's", expert.group.PROTOCOL,
        expert.severity.WARN),
    unknown_request = ex("request.unknown_type", "Request type not known", expert.group.UNDECODED,
        expert.severity.NOTE),
}

wire.register(proto, f, e)

return { proto = proto, f = f, e = e }
