-- The requests a station sends to the server: a 12-byte header (0, type,
-- sequence byte, code, then the station or the registration token) and,
-- for most types, a payload of 32 or 64 bytes.
if not ... then return end  -- found by Wireshark's plugin scan: quentara.lua loads it

local wire = require("quentara.wire")
local names = require("quentara.station_names")
local sf = require("quentara.station_fields")
local records = require("quentara.station_records")
local f, e = sf.f, sf.e
local Q = names.REQUEST

local requests = {}

local HEADER = 12
local EXTENSIONS_PER_WATCH_LIST = 16

-- The bytes a request of this type and code takes.
local function length_of(type, code)
    if type == Q.REGISTER or type == Q.KEEP_ALIVE then return HEADER end
    if code ~= 0 then return HEADER end
    if type == Q.WATCH_LIST then return 76 end
    return 44
end

local function add_payload(tree, tvb, from)
    if wire.has(tvb, from, 1) then tree:add(f.payload, tvb(from, tvb:len() - from)) end
end

-- Payload decoders: each gets the request tree and returns words for the
-- summary.
local payloads = {}

local function digits_payload(tree, tvb)
    local digits = wire.add_digits(tree, f.digits, tvb, HEADER, 32)
    add_payload(tree, tvb, HEADER + 32)
    return digits
end
payloads[Q.NEW_CALL] = digits_payload
payloads[Q.DEFLECT] = digits_payload
payloads[Q.DIAL_DIGITS] = digits_payload

local function extension_payload(tree, tvb)
    if not wire.has(tvb, HEADER, 4) then return nil end
    tree:add_le(f.ext, tvb(HEADER, 4))
    add_payload(tree, tvb, HEADER + 4)
    return tostring(wire.le_i32(tvb, HEADER))
end
payloads[Q.ANSWER_WATCHED] = extension_payload
payloads[Q.INTRUDE_WATCHED] = extension_payload

payloads[Q.RESUME] = function(tree, tvb)
    if not wire.has(tvb, HEADER, 4) then return nil end
    tree:add_le(f.park_key, tvb(HEADER, 4))
    add_payload(tree, tvb, HEADER + 4)
    return string.format("0x%08X", wire.le(tvb, HEADER, 4))
end

payloads[Q.WATCH_LIST] = function(tree, tvb)
    local watched = {}
    for i = 0, EXTENSIONS_PER_WATCH_LIST - 1 do
        local at = HEADER + 4 * i
        if not wire.has(tvb, at, 4) then break end
        local ext = wire.le_i32(tvb, at)
        local item = tree:add_le(f.ext, tvb(at, 4))
        if ext == -1 then
            item:append_text(" (empty)")
        else
            watched[#watched + 1] = tostring(ext)
        end
    end
    add_payload(tree, tvb, HEADER + 4 * EXTENSIONS_PER_WATCH_LIST)
    return table.concat(watched, " ")
end

-- Adds the code at offset 6 as what it means for this type.
local function add_code(tree, tvb, type, code)
    local range = tvb(6, 2)
    if type == Q.FEATURE_KEY then
        tree:add_le(f.feature, range)
        return names.feature_keys[code] or tostring(code)
    end
    tree:add_le(f.req_code, range)
    if type == Q.TAKE_BACK then
        -- The code is the call's number plus one, in 16 bits.
        local number = (code + 0xFFFF) % 0x10000
        tree:add(f.take_back, range, number):set_generated()
        return tostring(number)
    end
    return nil
end

-- Decodes a request datagram into `tree`; returns its summary.
function requests.decode(tree, tvb, reported)
    local n = tvb:len()
    local item = tree:add(f.request, tvb())
    item:add_le(f.dest, tvb(0, 4)):append_text(" (a request)")
    if n < HEADER then
        if reported >= HEADER then return "Request (cut short)" end
        item:add_proto_expert_info(e.request_short,
            string.format("Request of %s: its header takes %d", wire.bytes_text(n), HEADER))
        if n > 4 then item:add(f.payload, tvb(4, n - 4)) end
        return "Short request"
    end
    local type, code = tvb(4, 1):uint(), tvb(6, 2):le_uint()
    local type_name = names.request_types[type] or string.format("Type %d", type)
    item:set_text("Request: " .. type_name)
    item:add(f.req_type, tvb(4, 1))
    records.add_sequence(item, tvb(5, 1))
    local code_text = add_code(item, tvb, type, code)
    if type == Q.REGISTER then
        local station = item:add_le(f.station, tvb(8, 4))
        code_text = tostring(wire.le_i32(tvb, 8))
        if wire.le_i32(tvb, 8) == -1 then station:append_text(" (the server's identifier wanted)") end
    else
        item:add_le(f.token, tvb(8, 4))
    end
    local decode = payloads[type]
    local payload_text
    if decode then
        payload_text = decode(item, tvb)
    else
        add_payload(item, tvb, HEADER)
        if not names.request_types[type] then item:add_proto_expert_info(e.unknown_request) end
    end
    local expected = length_of(type, code)
    if reported < expected then
        item:add_proto_expert_info(e.request_short,
            string.format("%s request of %s: its layout takes %d", type_name, wire.bytes_text(reported), expected))
    elseif reported > expected then
        item:add_proto_expert_info(e.request_length,
            string.format("%s request of %s, not %d", type_name, wire.bytes_text(reported), expected))
    end
    local summary = type_name
    if code_text and code_text ~= "" then summary = summary .. " " .. code_text end
    if payload_text and payload_text ~= "" then summary = summary .. " " .. payload_text end
    local sequence = tvb(5, 1):uint()
    if sequence ~= 0 then summary = summary .. string.format(" (seq 0x%02X)", sequence) end
    return summary
end

return requests
