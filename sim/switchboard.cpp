// Registration, supervision and the request channel: every request the
// station queued is acknowledged with its sequence byte, and carried out
// once even when the station sends it again.
#include "sim/switchboard.h"

#include <algorithm>

namespace qsim {

using namespace station;

namespace {

constexpr uint32_t kTokenBase = 0x51A00000;

}  // namespace

void Output::append(Output other) {
    datagram.insert(datagram.end(), other.datagram.begin(), other.datagram.end());
    for (std::string &line : other.notes) notes.push_back(std::move(line));
}

const char *phaseName(Phase phase) {
    switch (phase) {
    case Phase::Idle: return "idle";
    case Phase::Dialling: return "dialling";
    case Phase::DialTone: return "dial tone";
    case Phase::Ringback: return "ringback";
    case Phase::Ringing: return "ringing";
    case Phase::Connected: return "connected";
    }
    return "?";
}

uint32_t Station::flags() const {
    uint32_t f = 0x100;  // calls may be made and answered
    if (held) f |= 0x1;  // a call waits on hold: retrieve, transfer, conference
    if (phase == Phase::Connected) f |= recording ? 0x80 : 0x40;
    if (phase == Phase::DialTone) f |= 0x20;  // the mailbox can be reached
    return f;
}

const Station *Switchboard::find(int32_t id) const {
    const auto it = stations_.find(id);
    return it == stations_.end() ? nullptr : &it->second;
}

Station *Switchboard::byToken(uint32_t token) {
    for (auto &[id, s] : stations_) {
        if (s.token == token) return &s;
    }
    return nullptr;
}

Output Switchboard::onDatagram(const uint8_t *data, size_t size, uint32_t source) {
    Output out;
    const std::optional<Request> r = parseRequest(data, size);
    if (!r) return out;  // a server record, not a request
    if (r->type == kRegisterRequest) return registerStation(*r, source);
    if (r->type == kKeepAlive) return keepAlive(*r);
    Station *s = byToken(r->word);
    if (!s) {
        out.note("request type " + std::to_string(r->type) + " with unknown token " + hex(r->word) + ": ignored");
    } else if (r->queued()) {
        out = queued(*s, *r);
    } else if (r->type == kNewCall) {
        out = newCall(*s, dialText(r->payload.data(), std::min<size_t>(r->payload.size(), 32)));
    } else {
        out.note("station " + std::to_string(s->id) + ": unqueued request type " + std::to_string(r->type) +
                 ": ignored");
    }
    return out;
}

Output Switchboard::registerStation(const Request &r, uint32_t source) {
    Output out;
    int32_t id = static_cast<int32_t>(r.word);
    if (id == -1) {
        id = config_.firstFreeId;
        while (stations_.count(id)) ++id;
    }
    const bool again = stations_.count(id) != 0;
    Station &s = stations_[id];
    if (again) {  // a station registering again starts without calls
        if (s.current) listCall(s, *s.current, 0, out);
        if (s.held) listCall(s, *s.held, 0, out);
    }
    s = Station{};
    s.id = id;
    s.token = kTokenBase + static_cast<uint32_t>(id & 0xFFFFF);
    s.host = config_.hostAddress.value_or(source);
    out.add(registrationReply(s.host, id, static_cast<uint8_t>(s.phase), s.token, s.flags()));
    out.note("station " + std::to_string(id) + (again ? ": registered again" : ": registered") + " (token " +
             hex(s.token) + ", records to " + dotted(s.host) + ")");
    return out;
}

Output Switchboard::keepAlive(const Request &r) {
    Output out;
    Station *s = byToken(r.word);
    if (!s) {
        out.note("keep-alive with unknown token " + hex(r.word) + ": not answered");
        return out;
    }
    out.add(statusReply(s->host, s->id, static_cast<uint8_t>(s->phase), s->flags()));
    out.note("station " + std::to_string(s->id) + ": keep-alive answered (" + phaseName(s->phase) + ")");
    return out;
}

Output Switchboard::queued(Station &s, const Request &r) {
    Output out;
    out.add(acknowledge(s.host, s.id, r.sequence));
    if (r.sequence == s.lastSequence) {
        out.note("station " + std::to_string(s.id) + ": request " + hex(r.sequence, 2) +
                 " again: acknowledged again");
        return out;
    }
    s.lastSequence = r.sequence;
    out.append(carryOut(s, r));
    return out;
}

Station *Switchboard::registered(int32_t id, Output &out) {
    const auto it = stations_.find(id);
    if (it != stations_.end()) return &it->second;
    out.note("station " + std::to_string(id) + " is not registered");
    return nullptr;
}

}  // namespace qsim
