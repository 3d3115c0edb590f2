-- The routing adjunct on its UDP port.  Every datagram starts with 0, its
-- type and the number of bytes after this 4-byte header (u16).  The link
-- sends keep-alives (0x01) and route responses (0xC1); the server answers
-- keep-alives (0x81) and asks route requests (0x41).
if not ... then return end  -- found by Wireshark's plugin scan: quentara.lua loads it

local wire = require("quentara.wire")

local adjunct = {}

local HEADER = 4
local KEEP_ALIVE, KEEP_ALIVE_REPLY, ROUTE_REQUEST, ROUTE_RESPONSE = 0x01, 0x81, 0x41, 0xC1
local TYPES = {
    [KEEP_ALIVE] = "Keep-alive",
    [KEEP_ALIVE_REPLY] = "Keep-alive reply",
    [ROUTE_REQUEST] = "Route request",
    [ROUTE_RESPONSE] = "Route response",
}
-- The bytes each type takes, its header included.
local SIZES = { [KEEP_ALIVE] = 4, [KEEP_ALIVE_REPLY] = 4, [ROUTE_REQUEST] = 84, [ROUTE_RESPONSE] = 44 }

local proto = Proto("qadjunct", "Quentara Routing Adjunct")

local date = wire.date_fields("qadjunct")
local f = {
    zero = ProtoField.uint8("qadjunct.zero", "First byte", base.HEX),
    type = ProtoField.uint8("qadjunct.type", "Type", base.HEX, TYPES),
    length = ProtoField.uint16("qadjunct.length", "Length after the header", base.DEC),
    number_a = ProtoField.int32("qadjunct.number_a", "Number A", base.DEC),
    number_b = ProtoField.int32("qadjunct.number_b", "Number B", base.DEC),
    request_id = ProtoField.uint32("qadjunct.request_id", "Request id", base.DEC),
    digits_a = ProtoField.string("qadjunct.digits_a", "Digits A"),
    digits_b = ProtoField.string("qadjunct.digits_b", "Digits B"),
    value = ProtoField.int32("qadjunct.value", "Value", base.DEC),
    digits = ProtoField.string("qadjunct.digits", "Digits"),
    rest = ProtoField.bytes("qadjunct.rest", "Not read"),
}

local e = {
    too_short = ProtoExpert.new("qadjunct.too_short", "Datagram shorter than its 4-byte header",
        expert.group.MALFORMED, expert.severity.ERROR),
    not_zero = ProtoExpert.new("qadjunct.not_zero", "First byte not 0: the datagram is ignored",
        expert.group.PROTOCOL, expert.severity.WARN),
    longer = ProtoExpert.new("qadjunct.longer", "Longer than its header says: the datagram is ignored",
        expert.group.PROTOCOL, expert.severity.WARN),
    truncated = ProtoExpert.new("qadjunct.truncated", "Shorter than its header says", expert.group.MALFORMED,
        expert.severity.ERROR),
    short_body = ProtoExpert.new("qadjunct.short_body", "Shorter than its type's layout", expert.group.MALFORMED,
        expert.severity.ERROR),
    cut = ProtoExpert.new("qadjunct.cut", "Packet cut short by the capture", expert.group.SEQUENCE,
        expert.severity.NOTE),
    unknown_type = ProtoExpert.new("qadjunct.unknown_type", "Type not known: the datagram is ignored",
        expert.group.UNDECODED, expert.severity.NOTE),
}

wire.register(proto, f, e, date)

local function add(tree, field, tvb, offset, size)
    if wire.has(tvb, offset, size) then return tree:add_le(field, tvb(offset, size)) end
    return nil
end

-- What the library keeps of a route request's digits: 31 characters of
-- digits A (its text's last byte is the NUL), 28 of digits B.
local DIGITS_A_KEPT, DIGITS_B_KEPT = 31, 28

-- The arguments that are neither nil nor empty, joined by `separator`.
local function joined(separator, ...)
    local present = {}
    for i = 1, select("#", ...) do
        local part = select(i, ...)
        if part and part ~= "" then present[#present + 1] = part end
    end
    return table.concat(present, separator)
end

-- Each decoder adds the fields that were captured and returns a summary of
-- them: a field not captured is left out, never shown as a placeholder.
local function route_request(tree, tvb)
    local d = wire.add_date(tree, date, tvb, 4)
    add(tree, f.number_a, tvb, 8, 4)
    add(tree, f.number_b, tvb, 12, 4)
    add(tree, f.request_id, tvb, 16, 4)
    local b = wire.add_digits(tree, f.digits_b, tvb, 20, 32, DIGITS_B_KEPT)
    local a = wire.add_digits(tree, f.digits_a, tvb, 52, 32, DIGITS_A_KEPT)
    local id, number_a, number_b = wire.le(tvb, 16, 4), wire.le_i32(tvb, 8), wire.le_i32(tvb, 12)
    local call = number_a and (number_b and string.format("%d -> %d", number_a, number_b) or ("from " .. number_a))
    local digits = b and (a and string.format("digits %s/%s", a, b) or ("digits B " .. b))
    return joined(", ", joined(" ", id and tostring(id), call), digits, d and wire.date_text(d))
end

local function route_response(tree, tvb)
    add(tree, f.request_id, tvb, 4, 4)
    add(tree, f.value, tvb, 8, 4)
    local digits = wire.add_digits(tree, f.digits, tvb, 12, 32)
    local id, value = wire.le(tvb, 4, 4), wire.le_i32(tvb, 8)
    return joined(": ", id and tostring(id), joined(", ", digits, value and ("value " .. value)))
end

function proto.dissector(tvb, pinfo, tree)
    local n = tvb:len()
    if n == 0 then return 0 end
    pinfo.cols.protocol = "QADJUNCT"
    local root = tree:add(proto, tvb())
    local reported = wire.note_cut(root, tvb, e.cut)
    if n < HEADER then
        if reported >= HEADER then return n end
        root:add_proto_expert_info(e.too_short)
        pinfo.cols.info = "Short datagram"
        return n
    end
    local zero = root:add(f.zero, tvb(0, 1))
    if tvb(0, 1):uint() ~= 0 then zero:add_proto_expert_info(e.not_zero) end
    local type = tvb(1, 1):uint()
    root:add(f.type, tvb(1, 1))
    local length = tvb(2, 2):le_uint()
    local length_item = root:add_le(f.length, tvb(2, 2))
    if reported > HEADER + length then
        length_item:add_proto_expert_info(e.longer, string.format(
            "%s after the header, %d declared: the datagram is ignored", wire.bytes_text(reported - HEADER), length))
    elseif reported < HEADER + length then
        length_item:add_proto_expert_info(e.truncated,
            string.format("%s after the header, %d declared", wire.bytes_text(reported - HEADER), length))
    end
    local name = TYPES[type] or string.format("Type 0x%02X", type)
    local detail
    if type == ROUTE_REQUEST then
        detail = route_request(root, tvb)
    elseif type == ROUTE_RESPONSE then
        detail = route_response(root, tvb)
    elseif not TYPES[type] then
        root:add_proto_expert_info(e.unknown_type)
    end
    local used = SIZES[type] or HEADER
    local short = reported < used
    if short then
        root:add_proto_expert_info(e.short_body, string.format("%s of %s: its layout takes %d%s", name,
            wire.bytes_text(reported), used, type == ROUTE_REQUEST and "; the link does not take it" or ""))
    elseif n > used then
        root:add(f.rest, tvb(used, n - used))
    end
    local summary = joined(" ", name, detail, short and string.format("(%s of %d)", wire.bytes_text(reported), used))
    root:append_text(": " .. summary)
    pinfo.cols.info = summary
    return n
end

adjunct.proto = proto
adjunct.default_port = 7002
return adjunct
