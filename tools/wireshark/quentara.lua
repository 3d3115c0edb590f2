-- Wireshark and tshark (4.0) dissectors for the three protocols of the
-- Quentara call server:
--   qstation  the station protocol (UDP, port 5001): the server's records
--             and the stations' requests
--   qcdr      the call-record stream (TCP, port 7001): 154-byte call
--             records and their checks, and the client's polls
--   qadjunct  the routing adjunct (UDP, port 7002): keep-alives, route
--             requests and responses
-- Each port is a preference (Protocols > QSTATION, QCDR, QADJUNCT) and each
-- protocol can be chosen with Decode As.
--
-- Use:      tshark -X lua_script:PATH/quentara.lua -r site.pcap -V
-- Install:  copy this file and the folder quentara/ beside it into the
--           personal plugin folder (~/.local/lib/wireshark/plugins/).
if QUENTARA_DISSECTORS_LOADED then return end  -- installed and given with -X too
QUENTARA_DISSECTORS_LOADED = true

local here = debug.getinfo(1, "S").source:match("^@(.*[/\\])") or "./"
package.path = here .. "?.lua;" .. package.path

-- Serves `proto` on the port of its preference in the table named, and
-- offers it to Decode As there.
local function serve(module, table_name, title)
    local proto = module.proto
    local dissectors = DissectorTable.get(table_name)
    local port = module.default_port
    proto.prefs.port = Pref.uint(title, port, "The port the server serves this protocol on")
    dissectors:add(port, proto)
    dissectors:add_for_decode_as(proto)
    function proto.prefs_changed()
        if proto.prefs.port == port then return end
        if port ~= 0 then dissectors:remove(port, proto) end
        port = proto.prefs.port
        if port ~= 0 then dissectors:add(port, proto) end
    end
end

serve(require("quentara.station"), "udp.port", "Station protocol UDP port")
serve(require("quentara.cdr"), "tcp.port", "Call-record TCP port")
serve(require("quentara.adjunct"), "udp.port", "Routing adjunct UDP port")
