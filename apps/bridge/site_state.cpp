#include "bridge/site_state.h"

#include "bridge/payloads.h"

namespace qbridge {

SiteState::SiteState(const std::vector<int32_t> &stations) {
    for (const int32_t id : stations) stations_.push_back({id, {}, {}, {}, {}});
}

StationView *SiteState::station(int32_t id) {
    for (StationView &s : stations_)
        if (s.id == id) return &s;
    return nullptr;
}

bool SiteState::parked(std::vector<std::string> lines) {
    if (parked_ && *parked_ == lines) return false;
    parked_ = std::move(lines);
    return true;
}

void SiteState::write(JsonWriter &w) const {
    w.beginArray("stations");
    for (const StationView &s : stations_) {
        w.beginObject().number("id", s.id);
        if (s.snapshot)
            w.raw("snapshot", snapshotData(*s.snapshot));
        else
            w.null("snapshot");
        w.texts("calls", s.calls);
        if (s.number)
            w.text("number", *s.number);
        else
            w.null("number");
        if (s.text)
            w.text("text", *s.text);
        else
            w.null("text");
        w.endObject();
    }
    w.endArray().beginArray("lamps");
    for (const auto &[extension, status] : lamps_)
        w.beginObject().number("extension", extension).number("status", status).endObject();
    w.endArray();
    if (parked_)
        w.texts("parked", *parked_);
    else
        w.null("parked");
}

}  // namespace qbridge
