-- What the three Quentara protocols share on the wire: little-endian words
-- read only where bytes were captured, dial-code buffers, the packed date
-- and time word, IPv4 addresses held as little-endian words, and texts made
-- safe to show.
if not ... then return end  -- found by Wireshark's plugin scan: quentara.lua loads it

local wire = {}

-- True when `count` bytes from `offset` lie within what was captured.
function wire.has(tvb, offset, count)
    return offset >= 0 and count >= 0 and offset + count <= tvb:len()
end

-- The little-endian unsigned word of `size` bytes at `offset`, or nil when
-- those bytes were not captured.
function wire.le(tvb, offset, size)
    if not wire.has(tvb, offset, size) then return nil end
    return tvb(offset, size):le_uint()
end

-- The same as a signed 32-bit integer.
function wire.le_i32(tvb, offset)
    local v = wire.le(tvb, offset, 4)
    if v and v >= 0x80000000 then v = v - 0x100000000 end
    return v
end

function wire.byte(tvb, offset)
    return wire.le(tvb, offset, 1)
end

-- Dial codes: 0-9, A-D (10-13), * (14), # (15); the first code above 15 ends
-- a number.
local DIAL_CHARS = "0123456789ABCD*#"

function wire.dial_char(code)
    if code < 16 then return DIAL_CHARS:sub(code + 1, code + 1) end
    return nil
end

-- The digits of the dial codes in `count` bytes from `offset` (as far as
-- they were captured), and how many codes they take.
function wire.dial_digits(tvb, offset, count)
    local digits = {}
    for i = 0, count - 1 do
        local code = wire.byte(tvb, offset + i)
        local c = code and wire.dial_char(code)
        if not c then break end
        digits[#digits + 1] = c
    end
    return table.concat(digits), #digits
end

-- Adds a dial-code buffer as the digits it carries; `keep` is how many of
-- its codes the receiver keeps (31 or 28 of a 32-byte field, for some), and
-- codes past them are noted as not kept.  Returns the digits, or nil when
-- the buffer was not captured whole.
function wire.add_digits(tree, field, tvb, offset, size, keep)
    if not wire.has(tvb, offset, size) then return nil end
    keep = keep or size
    local digits, used = wire.dial_digits(tvb, offset, keep)
    local item = tree:add(field, tvb(offset, size), digits)
    if used == 0 then
        item:append_text(" (none)")
    else
        local more = used == keep and keep < size and wire.dial_char(tvb(offset + keep, 1):uint())
        item:append_text(string.format(" (%d code%s%s)", used, used == 1 and "" or "s",
            more and string.format("; codes after the first %d not kept", keep) or ""))
    end
    return digits
end

-- Bytes as text that can be shown whatever they hold: printable ASCII as it
-- is, every other byte as \xNN; the text ends at its first NUL.
function wire.safe_text(raw)
    local nul = raw:find("\0", 1, true)
    if nul then raw = raw:sub(1, nul - 1) end
    return (raw:gsub("[^\32-\126]", function(c) return string.format("\\x%02X", c:byte()) end)), nul ~= nil
end

-- Adds `size` bytes of text from `offset`, shown up to its first NUL and at
-- most `keep` bytes long (what the receiver keeps of it; all by default).
function wire.add_text(tree, field, tvb, offset, size, keep)
    if not wire.has(tvb, offset, size) then return nil end
    keep = keep or size
    local text, ended = wire.safe_text(tvb:raw(offset, keep))
    local item = tree:add(field, tvb(offset, size), text)
    if not ended and keep < size and tvb(offset + keep, 1):uint() ~= 0 then
        item:append_text(string.format(" (bytes after the first %d not kept)", keep))
    end
    return text
end

-- An IPv4 address held as a 32-bit integer whose most significant byte is
-- the first number of its dotted text.
function wire.dotted(value)
    return string.format("%d.%d.%d.%d", math.floor(value / 0x1000000) % 256, math.floor(value / 0x10000) % 256,
        math.floor(value / 0x100) % 256, value % 256)
end

-- The packed date and time word: second in bits 0-5, minute 6-11, hour
-- 12-16, day 17-21, month 22-25, year minus 2000 in 26-31.
local DATE_PARTS = {
    { "second", "Second", 0x0000003F, 1, 59, 0 },
    { "minute", "Minute", 0x00000FC0, 0x40, 59, 0 },
    { "hour", "Hour", 0x0001F000, 0x1000, 23, 0 },
    { "day", "Day", 0x003E0000, 0x20000, 31, 1 },
    { "month", "Month", 0x03C00000, 0x400000, 12, 1 },
    { "year", "Year - 2000", 0xFC000000, 0x4000000, 63, 0 },
}

function wire.unpack_date(word)
    local d = {}
    for _, part in ipairs(DATE_PARTS) do
        d[part[1]] = math.floor(word / part[4]) % (part[3] / part[4] + 1)
    end
    d.year = d.year + 2000
    return d
end

function wire.date_text(d)
    return string.format("%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day, d.hour, d.minute, d.second)
end

-- The fields of a packed date word for the protocol named `prefix`: the
-- word as a text, then each part as bits of the word.
function wire.date_fields(prefix)
    local f = {
        word = ProtoField.string(prefix .. ".date", "Date and time"),
        out_of_range = ProtoExpert.new(prefix .. ".date.out_of_range", "Date or time field out of range",
            expert.group.PROTOCOL, expert.severity.NOTE),
    }
    for _, part in ipairs(DATE_PARTS) do
        f[part[1]] = ProtoField.uint32(prefix .. ".date." .. part[1], part[2], base.DEC, nil, part[3])
    end
    return f
end

-- Adds the date word at `offset` with its parts; a part out of its range is
-- noted.  Returns the unpacked date.
function wire.add_date(tree, f, tvb, offset)
    local word = wire.le(tvb, offset, 4)
    if not word then return nil end
    local d = wire.unpack_date(word)
    local range = tvb(offset, 4)
    local item = tree:add(f.word, range, wire.date_text(d))
    for _, part in ipairs(DATE_PARTS) do
        item:add_le(f[part[1]], range)
    end
    local odd = {}
    for _, part in ipairs(DATE_PARTS) do
        local v = d[part[1]]
        if part[1] == "year" then v = v - 2000 end
        if v < part[6] or v > part[5] then odd[#odd + 1] = string.format("%s %d", part[1], v) end
    end
    if #odd > 0 then
        item:add_proto_expert_info(f.out_of_range, "Out of range: " .. table.concat(odd, ", "))
    end
    return d
end

-- Notes on `tree` that the capture holds only part of the packet, and
-- returns the packet's length on the wire: structure is judged by it, while
-- only captured bytes are shown.
function wire.note_cut(tree, tvb, cut_expert)
    local reported = tvb:reported_len()
    if reported > tvb:len() then
        tree:add_proto_expert_info(cut_expert,
            string.format("Only %d of %d bytes captured: the rest is not shown", tvb:len(), reported))
    end
    return reported
end

-- Gives `proto` every field of `f` and every expert info of `e`, and those
-- of a packed date word (wire.date_fields) when `date` is given.
function wire.register(proto, f, e, date)
    local fields, experts = {}, {}
    for _, v in pairs(f) do fields[#fields + 1] = v end
    for _, v in pairs(e) do experts[#experts + 1] = v end
    for k, v in pairs(date or {}) do
        if k == "out_of_range" then experts[#experts + 1] = v else fields[#fields + 1] = v end
    end
    proto.fields = fields
    proto.experts = experts
end

-- "1 byte", "12 bytes".
function wire.bytes_text(n)
    return string.format("%d byte%s", n, n == 1 and "" or "s")
end

return wire
