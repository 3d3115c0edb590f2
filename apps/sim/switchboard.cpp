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
    case Phase::Idle:
        return "idle";
    case Phase::Dialling:
        return "dialling";
    case Phase::DialTone:
        return "dial tone";
    case Phase::Ringback:
        return "ringback";
    case Phase::Ringing:
        return "ringing";
    case Phase::Connected:
        return "connected";
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

const Station *Switchboard::byToken(uint32_t token) const {
    for (const auto &[id, s] : stations_) {
        if (s.token == token) return &s;
    }
    return nullptr;
}

Station *Switchboard::byToken(uint32_t token) {
    return const_cast<Station *>(static_cast<const Switchboard *>(this)->byToken(token));
}

std::string Switchboard::describe(const uint8_t *data, size_t size) const {
    const std::optional<Request> r = parseRequest(data, size);
    if (!r) return "a datagram of " + std::to_string(size) + " bytes";
    std::string who;
    if (r->type == kRegisterRequest) {
        who = "station " + std::to_string(static_cast<int32_t>(r->word));
    } else if (const Station *s = byToken(r->word)) {
        who = "station " + std::to_string(s->id);
    } else {
        who = "token " + hex(r->word);
    }
    return who + (r->queued() ? " request " + hex(r->sequence, 2) + " " : " ") + requestText(*r);
}

uint32_t Switchboard::stationHost() const {
    if (config_.hostAddress) return *config_.hostAddress;
    return stations_.empty() ? 0x7F000001 : stations_.begin()->second.host;
}

Output Switchboard::onDatagram(const uint8_t *data, size_t size, uint32_t source) {
    Output out;
    const std::optional<Request> r = parseRequest(data, size);
    if (!r) return out;  // a server record, not a request
    if (r->type == kRegisterRequest) return registerStation(*r, source);
    if (r->type == kKeepAlive) return keepAlive(*r);
    Station *s = byToken(r->word);
    if (!s) {
        out.note("request type " + std::to_string(r->type) + " with unknown token " + hex(r->word) +
                 ": ignored");
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
    const Station before = s;
    s = Station{};
    s.id = id;
    s.lastSequence = kSequenceBit;  // the first request after a registration is 0x81
    s.token = kTokenBase + static_cast<uint32_t>(id & 0xFFFFF);
    s.host = config_.hostAddress.value_or(source);
    out.add(registrationReply(s.host, id, static_cast<uint8_t>(s.phase), s.token, s.flags()));
    // A station registering again starts without calls: its list loses them
    // (after the reply, which the station takes first).
    if (before.current) listCall(s, *before.current, 0, out);
    if (before.held) listCall(s, *before.held, 0, out);
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
    // A station numbers its requests 0x80 to 0xBF in turn and sends the next
    // only once the last is acknowledged, so a sequence byte within the 32
    // before the next expected one is a request carried out already, sent
    // again or delayed on the way: acknowledged again, not carried out again.
    Output out;
    out.add(acknowledge(s.host, s.id, r.sequence));
    const uint8_t ahead = static_cast<uint8_t>((r.sequence - s.lastSequence) & 0x3F);
    if (ahead == 0 || ahead > 32) {
        out.note("station " + std::to_string(s.id) + ": request " + hex(r.sequence, 2) +
                 " again: acknowledged again");
        return out;
    }
    out.note("station " + std::to_string(s.id) + ": request " + hex(r.sequence, 2) + " " + requestText(r) +
             (ahead > 1 ? " (" + std::to_string(ahead - 1) + " never seen before it)" : ""));
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
