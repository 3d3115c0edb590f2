-- The call-record stream on its TCP port.  The server sends 154-byte call
-- records back to back, with no other framing, reassembled here across
-- segments; the client sends only the poll byte 0x58.  Each record is sealed
-- by a marker byte (150), the sum of bytes 0-150 (151) and a Fletcher check
-- sum modulo 251 of bytes 0-151 (152 low byte, 153 high byte).
if not ... then return end  -- found by Wireshark's plugin scan: quentara.lua loads it

local wire = require("quentara.wire")

local cdr = {}

local RECORD = 154
local POLL = 0x58
local MARKER = 0xFF

local proto = Proto("qcdr", "Quentara Call Records")

local check_status = { [0] = "Bad", [1] = "Good" }
local date = wire.date_fields("qcdr")
local f = {
    record = ProtoField.none("qcdr.record", "Call record"),
    poll = ProtoField.uint8("qcdr.poll", "Poll", base.HEX),
    kind = ProtoField.uint8("qcdr.kind", "Kind", base.DEC, nil, 0x3F),
    kind_letter = ProtoField.string("qcdr.kind_letter", "Kind letter"),
    number_a = ProtoField.int32("qcdr.number_a", "Number A", base.DEC),
    number_b = ProtoField.int32("qcdr.number_b", "Number B", base.DEC),
    number_c = ProtoField.int32("qcdr.number_c", "Number C", base.DEC),
    number_d = ProtoField.uint32("qcdr.number_d", "Number D", base.DEC),
    digits_a = ProtoField.string("qcdr.digits_a", "Digits A"),
    digits_b = ProtoField.string("qcdr.digits_b", "Digits B"),
    digits_c = ProtoField.string("qcdr.digits_c", "Digits C"),
    text = ProtoField.string("qcdr.text", "Text"),
    duration_count = ProtoField.uint32("qcdr.duration_count", "Duration count", base.DEC),
    duration = ProtoField.uint32("qcdr.duration", "Duration (2 x count / 125, rounded)", base.DEC),
    value_a = ProtoField.uint32("qcdr.value_a", "Value A", base.DEC),
    value_b = ProtoField.uint32("qcdr.value_b", "Value B", base.DEC),
    address = ProtoField.ipv4("qcdr.address", "Address"),
    word_a = ProtoField.uint16("qcdr.word_a", "Word A", base.DEC),
    word_b = ProtoField.uint16("qcdr.word_b", "Word B", base.DEC),
    unread = ProtoField.none("qcdr.unread", "Not read for this kind"),
    unused = ProtoField.bytes("qcdr.unused", "Not read"),
    marker = ProtoField.uint8("qcdr.marker", "Marker", base.HEX),
    marker_status = ProtoField.uint8("qcdr.marker.status", "Marker status", base.DEC, check_status),
    sum = ProtoField.uint8("qcdr.sum", "Byte sum", base.HEX),
    sum_status = ProtoField.uint8("qcdr.sum.status", "Byte sum status", base.DEC, check_status),
    check = ProtoField.uint16("qcdr.check", "Check sum (Fletcher 251)", base.HEX),
    check_status = ProtoField.uint8("qcdr.check.status", "Check sum status", base.DEC, check_status),
    valid = ProtoField.bool("qcdr.valid", "Record whole (a broken record ends the feed)"),
}

local e = {
    bad_marker = ProtoExpert.new("qcdr.marker.bad", "Marker is not 0xFF", expert.group.CHECKSUM,
        expert.severity.ERROR),
    bad_sum = ProtoExpert.new("qcdr.sum.bad", "Byte sum wrong", expert.group.CHECKSUM, expert.severity.ERROR),
    bad_check = ProtoExpert.new("qcdr.check.bad", "Check sum wrong", expert.group.CHECKSUM, expert.severity.ERROR),
    part = ProtoExpert.new("qcdr.part", "Part of a record: TCP does not reassemble", expert.group.REASSEMBLE,
        expert.severity.NOTE),
    not_poll = ProtoExpert.new("qcdr.not_poll", "A client sends only the poll byte 0x58", expert.group.PROTOCOL,
        expert.severity.WARN),
}

wire.register(proto, f, e, date)

-- Two sums that start at 1 and 0; each addition wraps at 8 bits before it
-- is reduced modulo 251.  s1 * 256 + s0, with 0 given as 0xFFFF.
function cdr.fletcher251(bytes, count)
    local s0, s1 = 1, 0
    for i = 1, count do
        s0 = ((s0 + bytes[i]) % 256) % 251
        s1 = ((s1 + s0) % 256) % 251
    end
    local check = s1 * 256 + s0
    return check == 0 and 0xFFFF or check
end

-- Which fields each kind carries; every other kind carries them all.
local ALL = { number_a = true, number_b = true, number_c = true, number_d = true, digits_a = true, digits_b = true,
    digits_c = true, duration = true, values = true, address = true, word_a = true, word_b = true }
local KINDS = {
    [1] = { text = true },
    [2] = { number_a = true, number_c = true, text = true, word_b = true },
    [3] = { number_a = true, number_c = true, digits_a = true, digits_c = true },
    [4] = { number_a = true, word_a = true, word_b = true },
}

-- What the library keeps of the texts: a 32-code field gives at most 31
-- characters (the last byte of its 32-byte text is the NUL), digits C at
-- most 28, and the 96-byte text at most 95.
local DIGITS_KEPT, DIGITS_C_KEPT, TEXT_KEPT = 31, 28, 95

-- The record's fields in their order: offset, size, field, what carries it
-- (a key of the kind tables) and how it is added.
local LAYOUT = {
    { 0, 4, f.number_a, "number_a" },
    { 4, 4, f.number_b, "number_b" },
    { 8, 4, f.number_c, "number_c" },
    { 12, 4, f.number_d, "number_d" },
    { 24, 32, f.digits_a, "digits_a", "digits", DIGITS_KEPT },
    { 56, 32, f.digits_b, "digits_b", "digits", DIGITS_KEPT },
    { 88, 32, f.digits_c, "digits_c", "digits", DIGITS_C_KEPT },
    { 124, 4, f.duration_count, "duration" },
    { 128, 4, f.value_a, "values" },
    { 132, 4, f.value_b, "values" },
    { 136, 4, f.address, "address" },
    { 140, 2, f.word_a, "word_a" },
    { 142, 2, f.word_b, "word_b" },
}

local function carried(kind, what)
    return (KINDS[kind] or ALL)[what] or false
end

local function add_check(tree, field, status_field, range, good)
    local item = tree:add_le(field, range)
    item:append_text(good and " [good]" or " [bad]")
    item:add(status_field, range, good and 1 or 0):set_generated()
    return item
end

-- The three checks; true when all hold.
local function add_checks(tree, tvb, bytes)
    local sum = 0
    for i = 1, 151 do sum = sum + bytes[i] end
    sum = sum % 256
    local check = cdr.fletcher251(bytes, 152)
    local stored_check = bytes[153] + 256 * bytes[154]
    local marker_good = bytes[151] == MARKER
    local sum_good = bytes[152] == sum
    local check_good = stored_check == check

    local item = add_check(tree, f.marker, f.marker_status, tvb(150, 1), marker_good)
    if not marker_good then item:add_proto_expert_info(e.bad_marker) end
    item = add_check(tree, f.sum, f.sum_status, tvb(151, 1), sum_good)
    if not sum_good then
        item:add_proto_expert_info(e.bad_sum, string.format("Byte sum 0x%02X stored, 0x%02X computed", bytes[152], sum))
    end
    item = add_check(tree, f.check, f.check_status, tvb(152, 2), check_good)
    if not check_good then
        local swapped = bytes[154] + 256 * bytes[153] == check and " (its bytes stored high byte first)" or ""
        item:add_proto_expert_info(e.bad_check,
            string.format("Check sum 0x%04X stored, 0x%04X computed%s", stored_check, check, swapped))
    end
    return marker_good and sum_good and check_good
end

local function add_field(tree, tvb, place)
    local offset, size, field, _, how, keep = place[1], place[2], place[3], place[4], place[5], place[6]
    if how == "digits" then return wire.add_digits(tree, field, tvb, offset, size, keep) end
    return tree:add_le(field, tvb(offset, size))
end

-- One record in `tvb`: 154 bytes, or fewer when TCP does not reassemble
-- (its preference), and then only shown as a part.
local function dissect_record(tvb, pinfo, tree)
    if tvb:len() < RECORD then
        local part = tree:add(proto, tvb())
        part:add_proto_expert_info(e.part, string.format("%d bytes of a record", tvb:len()))
        return tvb:len(), "part"
    end
    local bytes = { tvb:raw(0, RECORD):byte(1, RECORD) }
    local kind = bytes[17] % 64
    local letter = string.char(65 + kind)
    local item = tree:add(proto, tvb(0, RECORD))
    item:add(f.kind, tvb(16, 1))
    item:add(f.kind_letter, tvb(16, 1), letter):set_generated()
    local d = wire.add_date(item, date, tvb, 120)
    local unread
    local function tree_for(what)
        if carried(kind, what) then return item end
        if not unread then
            unread = item:add(f.unread, tvb(0, RECORD))
            unread:append_text(" " .. letter)
        end
        return unread
    end
    for _, place in ipairs(LAYOUT) do
        local is_digits = place[5] == "digits"
        if not (is_digits and (kind == 1 or kind == 2)) then
            local target = tree_for(place[4])
            add_field(target, tvb, place)
            if place[4] == "duration" and target == item then
                -- 2 x count / 125 rounded half up, as the library gives it.
                local count = tvb(124, 4):le_uint()
                item:add(f.duration, tvb(124, 4), math.floor((4 * count + 125) / 250)):set_generated()
            end
        end
    end
    if kind == 1 or kind == 2 then wire.add_text(item, f.text, tvb, 24, 96, TEXT_KEPT) end
    item:add(f.unused, tvb(17, 7)):append_text(" (bytes 17-23: the kind word's other bytes, and 4 more)")
    item:add(f.unused, tvb(144, 6)):append_text(" (bytes 144-149)")
    local whole = add_checks(item, tvb, bytes)
    item:add(f.valid, tvb(150, 4), whole):set_generated()
    item:append_text(string.format(": %s %s%s", letter, d and wire.date_text(d) or "",
        whole and "" or " [broken]"))
    return RECORD, letter .. (whole and "" or " (broken)")
end

local function record_length()
    return RECORD
end

-- The client's side: poll bytes.
local function dissect_polls(tvb, pinfo, tree)
    local root = tree:add(proto, tvb())
    local n = tvb:len()
    for i = 0, n - 1 do
        local item = root:add(f.poll, tvb(i, 1))
        if tvb(i, 1):uint() ~= POLL then item:add_proto_expert_info(e.not_poll) end
    end
    root:append_text(string.format(": %d poll byte%s", n, n == 1 and "" or "s"))
    pinfo.cols.info = n == 1 and "Poll" or string.format("%d polls", n)
    return n
end

local function dissect_one(tvb, pinfo, tree)
    local _, summary = dissect_record(tvb, pinfo, tree)
    local info = tostring(pinfo.cols.info)
    if info:sub(1, 8) == "Records " then
        pinfo.cols.info = info .. " " .. summary
    else
        pinfo.cols.info = "Records " .. summary
    end
    return RECORD
end

-- The server's port of each connection whose opening was captured, by TCP
-- stream: where the client's SYN went.  Only connections on a port decoded
-- as this protocol (by its preference or Decode As, either end) are kept.
local server_ports = {}
local tcp_stream = Field.new("tcp.stream")
local tcp_ports = DissectorTable.get("tcp.port")
local openings = Listener.new("tcp", "tcp.flags.syn == 1 && tcp.flags.ack == 0")

local function decoded_here(port)
    local dissector = tcp_ports:get_dissector(port)
    return dissector ~= nil and tostring(dissector):lower() == "qcdr"
end

function openings.packet(_, _, tcp)
    if decoded_here(tcp.th_dport) or decoded_here(tcp.th_sport) then server_ports[tcp.th_stream] = tcp.th_dport end
end

function proto.init()
    server_ports = {}
end

-- True when the client sent the packet.  The server's port is the one the
-- connection was opened to; when its opening was not captured, the one this
-- stream is decoded on.  Which port the preference names plays no part.
local function from_client(pinfo)
    local stream = tcp_stream()
    local server_port = stream and server_ports[stream.value] or pinfo.match_uint
    return pinfo.dst_port == server_port and pinfo.src_port ~= server_port
end

function proto.dissector(tvb, pinfo, tree)
    if tvb:len() == 0 then return 0 end
    pinfo.cols.protocol = "QCDR"
    if from_client(pinfo) then return dissect_polls(tvb, pinfo, tree) end
    pinfo.cols.info = ""
    -- Records have a fixed length: known from the first byte on, so a record
    -- is reassembled from exactly its own bytes.
    dissect_tcp_pdus(tvb, tree, 1, record_length, dissect_one, true)
    return tvb:len()
end

cdr.proto = proto
cdr.default_port = 7001
return cdr
