// The call model: how a station's call moves when its user presses a key or
// the far end acts, and the records that tell the station.
#include "sim/switchboard.h"

namespace qsim {

using namespace station;

namespace {

// Feature codes of the feature-key request.
enum FeatureCode : uint16_t {
    kClear = 160,
    kHold = 161,
    kConference = 162,
    kTransfer = 163,
    kRetrieve = 164,
    kCallback = 165,
    kAnswer = 167,
    kPark = 171,
    kMailbox = 172,
    kRecordStart = 173,
    kRecordStop = 174,
};

// Extension status broadcast for a station in each phase.
constexpr uint8_t kExtensionFree = 1;
constexpr uint8_t kExtensionRinging = 2;
constexpr uint8_t kExtensionBusy = 3;

// Call list states.
constexpr uint8_t kListGone = 0;
constexpr uint8_t kListSeized = 5;
constexpr uint8_t kListRouted = 6;
constexpr uint8_t kListActive = 7;

std::string name(const Station &s) { return "station " + std::to_string(s.id); }

uint8_t extensionStatusOf(Phase phase) {
    if (phase == Phase::Idle) return kExtensionFree;
    return phase == Phase::Ringing ? kExtensionRinging : kExtensionBusy;
}

Event eventFor(Phase phase) {
    Event e;
    switch (phase) {
    case Phase::Idle:
        e.sub = 1;
        break;
    case Phase::Dialling:
        e.type = kStationEvent;
        e.sub = 1;
        break;
    case Phase::DialTone:
        e.sub = 3;
        break;
    case Phase::Ringback:
        e.sub = 7;
        break;
    case Phase::Ringing:
        e.sub = 6;
        break;
    case Phase::Connected:
        e.sub = 8;
        break;
    }
    return e;
}

uint8_t listStateOf(Phase phase) {
    switch (phase) {
    case Phase::Ringback:
        return kListSeized;
    case Phase::Ringing:
        return kListRouted;
    case Phase::Connected:
        return kListActive;
    default:
        return kListGone;
    }
}

}  // namespace

Call Switchboard::newCallTo(const std::string &peer) {
    Call call{peer, nextCallNumber_++};
    if (nextCallNumber_ == 0) nextCallNumber_ = 1;
    return call;
}

void Switchboard::listCall(const Station &s, const Call &call, uint8_t state, Output &out) {
    out.add(
        callEntry(s.host, s.id, state, call.number, nibbleWord(call.peer), nibbleWord(std::to_string(s.id))));
}

void Switchboard::endCurrent(Station &s, Output &out) {
    if (s.current) listCall(s, *s.current, kListGone, out);
    s.current.reset();
}

void Switchboard::enter(Station &s, Phase phase, Output &out) {
    Event e = eventFor(phase);
    e.previous = static_cast<uint8_t>(s.phase);
    s.phase = phase;
    if (phase == Phase::Idle) s.recording = false;
    e.flags = s.flags();
    if (s.current)
        e.reference = s.current->number;
    else if (s.held)
        e.reference = s.held->number;
    out.add(event(s.host, s.id, e));
    if (s.current && listStateOf(phase) != kListGone) listCall(s, *s.current, listStateOf(phase), out);

    std::string line = name(s) + ": " + phaseName(phase);
    if (s.current) line += " with " + s.current->peer;
    if (s.held) line += ", holding " + s.held->peer;
    if (s.recording) line += ", recording";
    out.note(line);

    const auto watched = extensions_.find(s.id);
    if (watched != extensions_.end() && watched->second != extensionStatusOf(phase)) {
        watched->second = extensionStatusOf(phase);
        broadcastExtension(s.id, out);
    }
}

void Switchboard::broadcastExtension(int32_t extension, Output &out) const {
    const uint8_t status = extensions_.at(extension);
    out.add(extensionStatus(extension, status));
    out.note("extension " + std::to_string(extension) + ": status " + std::to_string(status));
}

void Switchboard::broadcastParkList(Output &out) const {
    std::vector<Parked> entries;
    std::string line = "park list:";
    for (size_t i = 0; i < parked_.size(); ++i) {
        entries.push_back({parked_[i].key, nibbleWord(parked_[i].peer), static_cast<uint32_t>(i)});
        line += " " + parked_[i].peer;
    }
    out.add(parkList(entries));
    out.note(parked_.empty() ? "park list: empty" : line);
}

Output Switchboard::newCall(Station &s, const std::string &digits) {
    Output out;
    if (s.phase != Phase::Idle) {
        out.note(name(s) + ": new call while " + phaseName(s.phase) + ": ignored");
    } else if (digits.empty()) {
        enter(s, Phase::Dialling, out);
    } else {
        out.append(dial(s, digits));
    }
    return out;
}

Output Switchboard::carryOut(Station &s, const Request &r) {
    Output out;
    const std::string digits = dialText(r.payload.data(), std::min<size_t>(r.payload.size(), 32));
    switch (r.type) {
    case kFeatureKey:
        return featureKey(s, r.code);
    case kDigits:
        if (s.phase == Phase::Dialling || s.phase == Phase::DialTone) {
            out.append(dial(s, digits));
        } else {
            out.note(name(s) + ": digits " + digits + " while " + phaseName(s.phase));
        }
        break;
    case kDeflect:
        if (s.phase != Phase::Ringing) {
            out.note(name(s) + ": deflect while " + phaseName(s.phase) + ": ignored");
            break;
        }
        out.note(name(s) + ": call from " + s.current->peer + " deflected to " + digits);
        endCurrent(s, out);
        enter(s, s.held ? Phase::DialTone : Phase::Idle, out);
        break;
    case kAnswerWatched:
        return pickUp(s, r.payloadI32(0), false);
    case kIntrudeWatched:
        return pickUp(s, r.payloadI32(0), true);
    case kResume:
        return resume(s, static_cast<uint32_t>(r.payloadI32(0)));
    case kWatchList:
        return watch(s, r);
    case kTakeBack:
        out.note(name(s) + ": take back call " + std::to_string(static_cast<uint16_t>(r.code - 1)));
        if (!s.current) {
            s.current = newCallTo("call " + std::to_string(static_cast<uint16_t>(r.code - 1)));
            enter(s, Phase::Connected, out);
        }
        break;
    default:
        out.note(name(s) + ": request type " + std::to_string(r.type) + " acknowledged, no effect");
    }
    return out;
}

Output Switchboard::dial(Station &s, const std::string &digits) {
    Output out;
    s.current = newCallTo(digits);
    out.add(numberInfo(s.host, s.id, digits));
    out.add(displayText(s.host, s.id, "Calling " + digits));
    enter(s, Phase::Ringback, out);
    return out;
}

Output Switchboard::featureKey(Station &s, uint16_t code) {
    Output out;
    const Phase p = s.phase;
    switch (code) {
    case kAnswer:
        if (p != Phase::Ringing) break;
        enter(s, Phase::Connected, out);
        return out;
    case kClear:
        if (p == Phase::Idle) break;
        if (!s.current && s.held) {  // hanging up with only a held call left drops it too
            listCall(s, *s.held, kListGone, out);
            s.held.reset();
        }
        endCurrent(s, out);
        enter(s, s.held ? Phase::DialTone : Phase::Idle, out);
        return out;
    case kHold:
        if (p != Phase::Connected || s.held) break;
        s.held = s.current;
        s.current.reset();
        enter(s, Phase::DialTone, out);
        return out;
    case kRetrieve:
        if (!s.held) break;
        endCurrent(s, out);
        s.current = s.held;
        s.held.reset();
        enter(s, Phase::Connected, out);
        return out;
    case kPark:
        if (!s.held || s.current) break;
        parked_.push_back({nibbleWord(std::to_string(nextParkKey_++)), s.held->peer});
        listCall(s, *s.held, kListGone, out);
        s.held.reset();
        enter(s, Phase::Idle, out);
        broadcastParkList(out);
        return out;
    case kConference:
        if (!s.held || p != Phase::Connected) break;
        listCall(s, *s.held, kListGone, out);
        s.current->peer = s.held->peer + "+" + s.current->peer;
        s.held.reset();
        enter(s, Phase::Connected, out);
        return out;
    case kTransfer:
        if (!s.held || !s.current) break;
        out.note(name(s) + ": " + s.held->peer + " transferred to " + s.current->peer);
        listCall(s, *s.held, kListGone, out);
        s.held.reset();
        endCurrent(s, out);
        enter(s, Phase::Idle, out);
        return out;
    case kCallback:
        if (p != Phase::Ringback) break;
        out.add(displayText(s.host, s.id, "Callback " + s.current->peer));
        out.note(name(s) + ": callback booked for " + s.current->peer);
        endCurrent(s, out);
        enter(s, s.held ? Phase::DialTone : Phase::Idle, out);
        return out;
    case kMailbox:
        if (p != Phase::DialTone && p != Phase::Dialling) break;
        s.current = newCallTo("mailbox");
        out.add(displayText(s.host, s.id, "Mailbox"));
        enter(s, Phase::Connected, out);
        return out;
    case kRecordStart:
    case kRecordStop:
        if (p != Phase::Connected) break;
        s.recording = code == kRecordStart;
        enter(s, Phase::Connected, out);
        return out;
    default:
        out.note(name(s) + ": feature code " + std::to_string(code) + ": no effect");
        return out;
    }
    out.note(name(s) + ": feature code " + std::to_string(code) + " while " + phaseName(p) + ": no effect");
    return out;
}

Output Switchboard::pickUp(Station &s, int32_t extension, bool intrude) {
    Output out;
    if (s.current) {
        out.note(name(s) + ": pick-up while in a call: ignored");
        return out;
    }
    std::string peer = std::to_string(extension);
    const auto other = stations_.find(extension);
    if (!intrude && other != stations_.end() && other->second.phase == Phase::Ringing) {
        Station &ringing = other->second;  // its caller now talks to s
        peer = ringing.current->peer;
        endCurrent(ringing, out);
        enter(ringing, ringing.held ? Phase::DialTone : Phase::Idle, out);
    }
    out.note(name(s) + (intrude ? ": intrudes on " : ": picks up the call of ") + std::to_string(extension));
    s.current = newCallTo(peer);
    enter(s, Phase::Connected, out);
    return out;
}

Output Switchboard::resume(Station &s, uint32_t key) {
    Output out;
    for (auto it = parked_.begin(); it != parked_.end(); ++it) {
        if (it->key != key || s.current) continue;
        s.current = newCallTo(it->peer);
        parked_.erase(it);
        enter(s, Phase::Connected, out);
        broadcastParkList(out);
        return out;
    }
    out.note(name(s) + ": nothing to resume under key " + std::to_string(key));
    return out;
}

Output Switchboard::watch(const Station &s, const Request &r) {
    Output out;
    std::string line = name(s) + " watches";
    for (size_t i = 0; i < 16; ++i) {
        const int32_t extension = r.payloadI32(4 * i);
        if (extension == -1) continue;
        line += " " + std::to_string(extension);
        if (!extensions_.count(extension)) {
            const Station *watched = find(extension);
            extensions_[extension] = watched ? extensionStatusOf(watched->phase) : kExtensionFree;
        }
    }
    out.note(line);
    for (size_t i = 0; i < 16; ++i) {
        const int32_t extension = r.payloadI32(4 * i);
        if (extension != -1) broadcastExtension(extension, out);
    }
    return out;
}

Output Switchboard::ring(int32_t id, const std::string &caller) {
    Output out;
    Station *s = registered(id, out);
    if (!s) return out;
    if (s->current) {
        out.note(name(*s) + " is busy: " + caller + " hears busy tone");
        return out;
    }
    s->current = newCallTo(caller);
    out.add(numberInfo(s->host, s->id, caller));
    out.add(displayText(s->host, s->id, "Call from " + caller));
    enter(*s, Phase::Ringing, out);
    return out;
}

Output Switchboard::farEndAnswers(int32_t id) {
    Output out;
    Station *s = registered(id, out);
    if (!s) return out;
    if (s->phase != Phase::Ringback) {
        out.note(name(*s) + " is not calling anyone");
        return out;
    }
    enter(*s, Phase::Connected, out);
    return out;
}

Output Switchboard::farEndClears(int32_t id) {
    Output out;
    Station *s = registered(id, out);
    if (!s) return out;
    if (!s->current) {
        out.note(name(*s) + " has no call to clear");
        return out;
    }
    out.note(name(*s) + ": " + s->current->peer + " hangs up");
    endCurrent(*s, out);
    enter(*s, s->held ? Phase::DialTone : Phase::Idle, out);
    return out;
}

Output Switchboard::display(int32_t id, const std::string &text) {
    Output out;
    if (Station *s = registered(id, out)) {
        out.add(displayText(s->host, s->id, text));
        out.note(name(*s) + ": display \"" + text + "\"");
    }
    return out;
}

Output Switchboard::setExtension(int32_t extension, uint8_t status) {
    Output out;
    extensions_[extension] = status;
    broadcastExtension(extension, out);
    return out;
}

Output Switchboard::park(const std::string &peer) {
    Output out;
    parked_.push_back({nibbleWord(std::to_string(nextParkKey_++)), peer});
    broadcastParkList(out);
    return out;
}

}  // namespace qsim
