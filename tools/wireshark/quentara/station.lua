-- The station protocol on its UDP port.  A datagram whose first word is 0 is
-- a station's request; any other is the server's, records back to back: each
-- starts with its destination (a host's IPv4 address as a little-endian word,
-- 0xFFFFFFFF for every host, 0 to end the datagram), then type, sub, extra and
-- the length byte L, and takes 4 + 4 x L bytes.  Records are split exactly
-- as a station splits them: a header must lie within the datagram, and the
-- next record starts 4 + 4 x L bytes on, wherever that is.
if not ... then return end  -- found by Wireshark's plugin scan: quentara.lua loads it

local wire = require("quentara.wire")
local names = require("quentara.station_names")
local sf = require("quentara.station_fields")
local records = require("quentara.station_records")
local requests = require("quentara.station_requests")
local proto, f, e = sf.proto, sf.f, sf.e
local R = names.RECORD

local station = {}

local HEADER = 8
local STATION_READS = 1024  -- the longest datagram a station reads

-- A record's view for the decoders: its header bytes and values, and its
-- fields as far as the record's length and the datagram both reach.
local function record_view(tvb, tree, pos)
    local length = tvb(pos + 7, 1):uint()
    local declared = 4 + 4 * length
    local r = {
        tvb = tvb,
        tree = tree,
        pos = pos,
        declared = declared,
        avail = math.min(declared, tvb:len() - pos),
        sub = tvb(pos + 5, 1),
        extra = tvb(pos + 6, 1),
        length = tvb(pos + 7, 1),
        type_value = tvb(pos + 4, 1):uint(),
        sub_value = tvb(pos + 5, 1):uint(),
        extra_value = tvb(pos + 6, 1):uint(),
        length_value = length,
    }
    function r:range(rel, size)
        if rel + size > self.avail then return nil end
        return self.tvb(self.pos + rel, size)
    end
    return r
end

-- Notes a record type that the station takes only with the other kind of
-- destination.
local function check_scope(item, type, broadcast)
    local broadcast_type = type == R.EXTENSION_STATUS or type == R.PARK_LIST
    if broadcast_type and not broadcast then
        item:add_proto_expert_info(e.scope, "Taken only as a broadcast: a station ignores it")
    elseif broadcast and not broadcast_type then
        item:add_proto_expert_info(e.scope, "Not taken as a broadcast: a station ignores it")
    end
end

-- One record at `pos`; returns the bytes its length says it takes and its
-- summary.
local function dissect_record(tvb, root, pos, index, reported)
    local n = tvb:len()
    local r = record_view(tvb, nil, pos)
    local item = root:add(f.record, tvb(pos, math.min(math.max(r.declared, HEADER), n - pos)))
    r.tree = item
    local dest = tvb(pos, 4):le_uint()
    local dest_item = item:add_le(f.dest, tvb(pos, 4))
    if dest == names.BROADCAST then dest_item:append_text(" (every host)") end
    item:add(f.type, tvb(pos + 4, 1))
    records.add_sub_extra(r)
    item:add(f.length, r.length):append_text(string.format(" (%s)", wire.bytes_text(r.declared)))

    if r.length_value == 0 then
        item:add_proto_expert_info(e.zero_length)
    elseif r.declared > reported - pos then
        item:add_proto_expert_info(e.past_end, string.format("Length %d says %s; %s left in the datagram",
            r.length_value, wire.bytes_text(r.declared), wire.bytes_text(reported - pos)))
    end
    local layout = records.layout_of(r.type_value, r.length_value)
    if layout and r.declared < layout and r.length_value ~= 0 then
        item:add_proto_expert_info(e.short_record, string.format("%s of %s: its layout takes %d",
            names.record_types[r.type_value], wire.bytes_text(r.declared), layout))
    end
    check_scope(item, r.type_value, dest == names.BROADCAST)

    local detail = records.decode(r)
    local type_name = names.record_types[r.type_value] or string.format("Type 0x%02X", r.type_value)
    local summary = type_name .. (detail and detail ~= "" and (" " .. detail) or "")
    local whom = ""
    local station_id = wire.le_i32(tvb, pos + 8)
    if r.type_value ~= R.PARK_LIST and r.type_value ~= R.EXTENSION_STATUS and r.avail >= 12 then
        whom = string.format(", station %d", station_id)
        summary = summary .. string.format(" (%d)", station_id)
    end
    item:set_text(string.format("Record %d: %s%s, to %s", index, type_name, whom,
        dest == names.BROADCAST and "every host" or wire.dotted(dest)))
    return r.declared, summary
end

-- The server's records, back to back; returns the summary of the datagram.
local function dissect_records(tvb, root, reported)
    local n = tvb:len()
    if reported < HEADER then
        root:add_proto_expert_info(e.too_short,
            string.format("%s: a record header takes %d", wire.bytes_text(reported), HEADER))
        return "Short datagram"
    end
    local pos, summaries = 0, {}
    while pos + HEADER <= n do
        if tvb(pos, 4):le_uint() == 0 then
            local mark = root:add(f.end_mark, tvb(pos, 4))
            if pos + 4 < n then
                mark:add_tvb_expert_info(e.after_end, tvb(pos + 4, n - pos - 4),
                    string.format("%s after the end mark: not read", wire.bytes_text(n - pos - 4)))
            end
            pos = n
            break
        end
        local size, summary = dissect_record(tvb, root, pos, #summaries + 1, reported)
        summaries[#summaries + 1] = summary
        pos = pos + size
    end
    if pos < n and n == reported then
        local rest = root:add(f.trailing, tvb(pos, n - pos))
        rest:add_proto_expert_info(e.trailing)
    end
    if #summaries == 0 then return "No records" end
    return table.concat(summaries, ", ")
end

function proto.dissector(tvb, pinfo, tree)
    local n = tvb:len()
    if n == 0 then return 0 end
    pinfo.cols.protocol = "QSTATION"
    local root = tree:add(proto, tvb())
    local reported = wire.note_cut(root, tvb, e.cut)
    if reported > STATION_READS then
        root:add_proto_expert_info(e.oversize, string.format("%s: a station reads at most %d",
            wire.bytes_text(reported), STATION_READS))
    end
    local summary
    if n >= 4 and tvb(0, 4):le_uint() == 0 then
        summary = requests.decode(root, tvb, reported)
    else
        summary = dissect_records(tvb, root, reported)
    end
    root:append_text(": " .. summary)
    pinfo.cols.info = summary
    return n
end

station.proto = proto
station.default_port = 5001
return station
