// What the bridge knows of the site now, for the `snapshot` command: each
// station's last snapshot, call list and display, the lamps, the parked
// calls.  Its size follows the command line (the stations, the watched
// extensions), never the traffic.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bridge/json_out.h"
#include "qapi.h"

namespace qbridge {

struct StationView {
    int32_t id = 0;
    std::optional<QapiStatusSnapshot> snapshot;  // statusText points to the library's static texts
    std::vector<std::string> calls;
    std::optional<std::string> number, text;  // the last number and display text
};

class SiteState {
public:
    explicit SiteState(const std::vector<int32_t> &stations);

    StationView *station(int32_t id);
    void lamp(int32_t extension, int32_t status) { lamps_[extension] = status; }
    // A park list: true when its lines differ from the last one (the first always does).
    bool parked(std::vector<std::string> lines);

    // The members "stations", "lamps" and "parked" of the state.
    void write(JsonWriter &w) const;

private:
    std::vector<StationView> stations_;
    std::map<int32_t, int32_t> lamps_;
    std::optional<std::vector<std::string>> parked_;
};

}  // namespace qbridge
