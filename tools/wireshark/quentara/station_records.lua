-- The bodies of the records the server sends, type by type.  Each decoder
-- gets a record view (see station.lua) whose fields exist only as far as the
-- record's length and the datagram both reach, and returns a few words for
-- the summary.
if not ... then return end  -- found by Wireshark's plugin scan: quentara.lua loads it

local wire = require("quentara.wire")
local names = require("quentara.station_names")
local sf = require("quentara.station_fields")
local f, e = sf.f, sf.e
local R = names.RECORD

local records = {}

-- The bytes each type's layout takes; a shorter record lacks fields.
records.layout = {
    [R.REGISTRATION_REPLY] = 40,
    [R.NUMBER] = 40,
    [R.CALL_EVENT] = 24,
    [R.STATION_EVENT] = 24,
    [R.CALL_ENTRY] = 24,
    [R.STATUS_REPLY] = 16,
    [R.FLAGS_UPDATE] = 16,
    [R.DISPLAY_TEXT] = 44,
    [R.REGISTRATION_REFUSED] = 12,
    [R.ACKNOWLEDGE] = 12,
    [R.INFO_VALUE] = 12,
    [R.EXTENSION_STATUS] = 12,
    [R.PARK_LIST] = 8,
    [R.REEVALUATE] = 8,
    [R.REEVALUATE_TOO] = 8,
}
local CALL_ENTRY_SHORT_LENGTH = 3  -- a call entry of this length carries no identifiers
local DISPLAY_TEXT_LENGTH = 10     -- the only length of a display text that is shown
local PARKED_SHOWN = 32            -- the entries of a park list that are taken

-- The bytes a record of this type and length byte takes by its layout.
function records.layout_of(type, length)
    if type == R.CALL_ENTRY and length == CALL_ENTRY_SHORT_LENGTH then return 16 end
    return records.layout[type]
end

-- Adds the call flags word at `rel` with its bits.
function records.add_flags(r, rel)
    local range = r:range(rel, 4)
    if not range then return end
    local item = r.tree:add_le(f.flags, range)
    for _, bit in ipairs(names.flags) do item:add_le(f["flag_" .. bit[1]], range) end
    item:add_le(f.flags_other, range)
end

-- The sequence byte of a queued request (or of its acknowledgement).
function records.add_sequence(tree, range)
    local item = tree:add(f.seq, range)
    item:add(f.seq_queued, range)
    item:add(f.seq_slot, range)
end

local function add_station(r)
    local range = r:range(8, 4)
    if range then r.tree:add_le(f.station, range) end
end

local function not_read(r, rel, size)
    local range = r:range(rel, size)
    if range then r.tree:add(f.unused, range) end
end

-- An identifier of a call, digit by digit: each nibble 0-9 a digit, 10-14 a
-- letter A-E, 15 a blank.
local function id_text(v)
    local out = {}
    for shift = 28, 0, -4 do
        local n = math.floor(v / 2 ^ shift) % 16
        out[#out + 1] = n == 15 and " " or ("0123456789ABCDE"):sub(n + 1, n + 1)
    end
    return table.concat(out)
end

-- A parked call's word as listed: its decimal nibbles only.
local function decimal_nibbles(v)
    local out = {}
    for shift = 28, 0, -4 do
        local n = math.floor(v / 2 ^ shift) % 16
        if n < 10 then out[#out + 1] = tostring(n) end
    end
    return table.concat(out)
end

local decoders = {}

decoders[R.REGISTRATION_REPLY] = function(r)
    add_station(r)
    local token = r:range(12, 4)
    if token then r.tree:add_le(f.token, token) end
    records.add_flags(r, 16)
    local short = r:range(20, 2)
    if short then r.tree:add_le(f.reg_short, short) end
    not_read(r, 22, 2)
    for i = 0, 3 do
        local v = r:range(24 + 4 * i, 4)
        if v then r.tree:add_le(f.reg_value, v) end
    end
    return names.station_states[r.sub_value] or tostring(r.sub_value)
end

decoders[R.STATUS_REPLY] = function(r)
    add_station(r)
    records.add_flags(r, 12)
    return names.station_states[r.sub_value] or tostring(r.sub_value)
end

decoders[R.REGISTRATION_REFUSED] = function(r)
    add_station(r)
    return names.refusal_reasons[r.sub_value] or "refused"
end

decoders[R.ACKNOWLEDGE] = function(r)
    add_station(r)
    return string.format("0x%02X", r.sub_value)
end

decoders[R.INFO_VALUE] = function(r)
    add_station(r)
    return tostring(r.sub_value)
end

decoders[R.FLAGS_UPDATE] = function(r)
    add_station(r)
    records.add_flags(r, 12)
    return nil
end

-- What an event's word says, by the event's kind.
local function add_event_word(r, is_call_event)
    local range = r:range(12, 2)
    if not range then return end
    local item = r.tree:add_le(f.word, range)
    local word = range:le_uint()
    local low, high = word % 256, math.floor(word / 256)
    local sub = r.sub_value
    if is_call_event and sub == names.CALL_EVENT_INDICATOR then
        item:add(f.indicator, r:range(12, 1))
    elseif is_call_event and sub == names.CALL_EVENT_KEY then
        if high ~= 0 then item:add(f.key, range, wire.dial_char(low) or string.format("none (code %d)", low)) end
    elseif is_call_event and sub == names.CALL_EVENT_VALUE then
        item:add_le(f.value, range)
    elseif not is_call_event and sub == names.STATION_EVENT_DIGIT then
        if high == names.DIGIT_NOT_SHOWN then
            item:append_text(" (not shown)")
        else
            item:add(f.digit, range, wire.dial_char(low) or string.format("none (code %d)", low))
        end
    end
end

-- The station call state the event leads to, where the event alone says it.
local function leads_to(r, is_call_event, server_state)
    local sub = r.sub_value
    if server_state == names.SERVER_STATE_SPECIAL then
        if is_call_event and sub == 13 then return 10 end
        return nil
    end
    if is_call_event then
        if names.call_event_keeps_server_state[sub] then return server_state end
        return names.call_event_state[sub]
    end
    if names.station_event_ends[sub] then
        local flags = r:range(20, 4)
        if flags and flags:le_uint() % 2 == 0 then return 0 end
        return nil
    end
    return names.station_event_state[sub]
end

local function event(r, is_call_event)
    add_station(r)
    add_event_word(r, is_call_event)
    not_read(r, 14, 2)
    local state_range = r:range(16, 1)
    local server_state
    if state_range then
        server_state = state_range:uint()
        local item = r.tree:add(f.server_state, state_range)
        if server_state == names.SERVER_STATE_SPECIAL then item:append_text(" (special)") end
    end
    not_read(r, 17, 1)
    local ref = r:range(18, 2)
    if ref then
        local item = r.tree:add_le(f.ref, ref)
        if ref:le_uint() == names.NO_REFERENCE then item:append_text(" (none)") end
    end
    records.add_flags(r, 20)
    local after = leads_to(r, is_call_event, server_state)
    if after then r.tree:add(f.leads_to, r.sub, after):set_generated() end
    local subs = is_call_event and names.call_event_subs or names.station_event_subs
    return subs[r.sub_value] or tostring(r.sub_value)
end

decoders[R.CALL_EVENT] = function(r) return event(r, true) end
decoders[R.STATION_EVENT] = function(r) return event(r, false) end

decoders[R.NUMBER] = function(r)
    add_station(r)
    local range = r:range(12, 28)
    if not range then return nil end
    local digits = wire.add_digits(r.tree, f.number, r.tvb, range:offset(), 28)
    if r.extra_value ~= 0 then
        r.tree:add_proto_expert_info(e.ignored, "Number of another kind than 0: not shown")
    end
    return digits
end

decoders[R.CALL_ENTRY] = function(r)
    add_station(r)
    local number = r:range(12, 2)
    if number then r.tree:add_le(f.call_number, number) end
    not_read(r, 14, 2)
    local ids = { 0xFFFFFFFF, 0xFFFFFFFF }
    if r.length_value ~= CALL_ENTRY_SHORT_LENGTH then
        for i, field in ipairs({ f.call_first, f.call_second }) do
            local range = r:range(12 + 4 * i, 4)
            if range then
                r.tree:add_le(field, range)
                ids[i] = range:le_uint()
            end
        end
    end
    if not number then return nil end
    local state = r.sub_value
    local label = names.call_states[state]
    if label then
        local shown = names.call_state_numbered[state] and string.format("%04d", number:le_uint() % 10000) or "    "
        local line = string.format("%s %s %s%-15s", shown, id_text(ids[1]), id_text(ids[2]), label)
        r.tree:add(f.call_line, number, line):set_generated()
    else
        r.tree:add(f.call_line, number, "(not listed: the call leaves the list)"):set_generated()
    end
    return string.format("%d %s", number:le_uint(), label or "off the list")
end

decoders[R.DISPLAY_TEXT] = function(r)
    add_station(r)
    local range = r:range(12, 32)
    local text = range and wire.add_text(r.tree, f.text, r.tvb, range:offset(), 32)
    if r.length_value ~= DISPLAY_TEXT_LENGTH then
        r.tree:add_proto_expert_info(e.ignored,
            string.format("Display text of length %d, not %d: not shown", r.length_value, DISPLAY_TEXT_LENGTH))
    end
    return text and string.format('"%s"', text)
end

decoders[R.EXTENSION_STATUS] = function(r)
    local ext = r:range(8, 4)
    if ext then r.tree:add_le(f.ext, ext) end
    return ext and string.format("%d: %d", wire.le_i32(r.tvb, ext:offset()), r.extra_value)
end

decoders[R.PARK_LIST] = function(r)
    local declared = r.length_value > 3 and math.floor((r.length_value - 1) / 3) or 0
    r.tree:add(f.park_count, r.length, declared):set_generated()
    if declared > PARKED_SHOWN then
        r.tree:add_proto_expert_info(e.ignored,
            string.format("%d entries: only the first %d are taken", declared, PARKED_SHOWN))
    end
    local lines = {}
    for i = 0, declared - 1 do
        local range = r:range(8 + 12 * i, 12)
        if not range then break end
        local words = {}
        for w = 0, 2 do words[w + 1] = r.tvb(range:offset() + 4 * w, 4) end
        local line = decimal_nibbles(words[1]:le_uint()) .. " " .. decimal_nibbles(words[2]:le_uint())
        local entry = r.tree:add(f.park_entry, range)
        entry:append_text(string.format(" %d: %s", i + 1, line))
        entry:add_le(f.park_key, words[1])
        entry:add_le(f.park_shown, words[2])
        entry:add_le(f.park_other, words[3])
        entry:add(f.park_line, range, line):set_generated()
        lines[#lines + 1] = line
    end
    return table.concat(lines, "; ")
end

local function reevaluate(r)
    add_station(r)
    return nil
end
decoders[R.REEVALUATE] = reevaluate
decoders[R.REEVALUATE_TOO] = reevaluate

-- What the sub and extra bytes mean, for the types that give them a meaning
-- of their own.
local SUB_FIELDS = { [R.REGISTRATION_REPLY] = f.state, [R.STATUS_REPLY] = f.state,
    [R.REGISTRATION_REFUSED] = f.refusal, [R.CALL_EVENT] = f.call_sub, [R.STATION_EVENT] = f.station_sub,
    [R.INFO_VALUE] = f.info_value, [R.CALL_ENTRY] = f.call_state }
local EXTRA_FIELDS = { [R.NUMBER] = f.number_kind, [R.EXTENSION_STATUS] = f.ext_status }

-- Adds the sub and extra bytes of record view `r` as its type reads them.
function records.add_sub_extra(r)
    if r.type_value == R.ACKNOWLEDGE then
        records.add_sequence(r.tree, r.sub)
    else
        r.tree:add(SUB_FIELDS[r.type_value] or f.sub, r.sub)
    end
    local extra = r.tree:add(EXTRA_FIELDS[r.type_value] or f.extra, r.extra)
    local meaning = r.type_value == R.EXTENSION_STATUS and names.extension_statuses[r.extra_value]
    if meaning then extra:append_text(" (" .. meaning .. ")") end
end

-- Decodes the body of record view `r`; returns words for the summary.
function records.decode(r)
    local decode = decoders[r.type_value]
    if not decode then
        r.tree:add_proto_expert_info(e.unknown_type)
        return nil
    end
    return decode(r)
end

return records
