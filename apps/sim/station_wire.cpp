#include "sim/station_wire.h"

#include <algorithm>

namespace qsim::station {
namespace {

constexpr size_t kHeader = 12;
constexpr size_t kTextBytes = 32;
constexpr size_t kNumberCodes = 28;

// A record of `size` bytes (a whole number of words, at least 8) with its
// header filled and the rest zero.
Bytes record(uint32_t host, uint8_t type, uint8_t sub, uint8_t extra, size_t size) {
    Bytes b(size, 0);
    putU32(b, 0, host);
    b[4] = type;
    b[5] = sub;
    b[6] = extra;
    b[7] = static_cast<uint8_t>((size - 4) / 4);
    return b;
}

Bytes stationRecord(uint32_t host, uint8_t type, uint8_t sub, int32_t station, size_t size) {
    Bytes b = record(host, type, sub, 0, size);
    putU32(b, 8, static_cast<uint32_t>(station));
    return b;
}

}  // namespace

int32_t Request::payloadI32(size_t at) const {
    return at + 4 <= payload.size() ? static_cast<int32_t>(getU32(payload.data() + at)) : -1;
}

std::optional<Request> parseRequest(const uint8_t *data, size_t size) {
    if (size < kHeader || getU32(data) != 0) return std::nullopt;
    Request r;
    r.type = data[4];
    r.sequence = data[5];
    r.code = getU16(data + 6);
    r.word = getU32(data + 8);
    r.payload.assign(data + kHeader, data + size);
    return r;
}

std::string requestText(const Request &r) {
    const std::string digits = dialText(r.payload.data(), std::min<size_t>(r.payload.size(), 32));
    switch (r.type) {
    case kRegisterRequest:
        return "registration";
    case kKeepAlive:
        return "keep-alive";
    case kNewCall:
        return "new call " + digits;
    case kFeatureKey:
        return "feature key " + std::to_string(r.code);
    case kDeflect:
        return "deflect " + digits;
    case kDigits:
        return "digits " + digits;
    case kAnswerWatched:
        return "answer watched " + std::to_string(r.payloadI32(0));
    case kIntrudeWatched:
        return "intrude " + std::to_string(r.payloadI32(0));
    case kResume:
        return "resume " + std::to_string(r.payloadI32(0));
    case kTakeBack:
        return "take back " + std::to_string(r.code);
    case kWatchList: {
        std::string text = "watch list";
        for (size_t at = 0; at + 4 <= r.payload.size(); at += 4) {
            if (r.payloadI32(at) != -1) text += " " + std::to_string(r.payloadI32(at));
        }
        return text;
    }
    default:
        return "type " + std::to_string(r.type);
    }
}

std::string recordText(const Bytes &datagram) {
    if (datagram.size() < 12) return "a datagram of " + std::to_string(datagram.size()) + " bytes";
    const std::string station =
        "station " + std::to_string(static_cast<int32_t>(getU32(datagram.data() + 8))) + " ";
    switch (datagram[4]) {
    case kRegistrationReply:
        return station + "registration reply";
    case kStatusReply:
        return station + "status reply";
    case kAcknowledge:
        return station + "acknowledge " + hex(datagram[5], 2);
    case kCallEvent:
        return station + "call event";
    case kStationEvent:
        return station + "station event";
    case kNumberInfo:
        return station + "number";
    case kDisplayText:
        return station + "display text";
    case kCallEntry:
        return station + "call entry";
    case kExtensionStatus:
        return "extension status";
    case kParkList:
        return "park list";
    default:
        return "record type " + hex(datagram[4], 2);
    }
}

Bytes registrationReply(uint32_t host, int32_t station, uint8_t state, uint32_t token, uint32_t flags) {
    Bytes b = stationRecord(host, kRegistrationReply, state, station, 40);
    putU32(b, 12, token);
    putU32(b, 16, flags);
    // regShort at 20 and the four regValues at 24 stay 0: the library passes
    // them to the application without looking at them.
    return b;
}

Bytes statusReply(uint32_t host, int32_t station, uint8_t state, uint32_t flags) {
    Bytes b = stationRecord(host, kStatusReply, state, station, 16);
    putU32(b, 12, flags);
    return b;
}

Bytes acknowledge(uint32_t host, int32_t station, uint8_t sequence) {
    return stationRecord(host, kAcknowledge, sequence, station, 12);
}

Bytes event(uint32_t host, int32_t station, const Event &e) {
    Bytes b = stationRecord(host, e.type, e.sub, station, 24);
    putU16(b, 12, e.word);
    b[16] = e.previous;
    putU16(b, 18, e.reference);
    putU32(b, 20, e.flags);
    return b;
}

Bytes numberInfo(uint32_t host, int32_t station, const std::string &digits) {
    Bytes b = stationRecord(host, kNumberInfo, 0, station, 40);
    putDialCodes(b, 12, kNumberCodes, digits);
    return b;
}

Bytes displayText(uint32_t host, int32_t station, const std::string &text) {
    Bytes b = stationRecord(host, kDisplayText, 0, station, kHeader + kTextBytes);
    // At most 32 characters; a shorter text is NUL-padded.
    std::copy_n(text.begin(), std::min(text.size(), kTextBytes), b.begin() + kHeader);
    return b;
}

Bytes callEntry(uint32_t host, int32_t station, uint8_t state, uint16_t number, uint32_t firstId,
                uint32_t secondId) {
    Bytes b = stationRecord(host, kCallEntry, state, station, 24);
    putU16(b, 12, number);
    putU32(b, 16, firstId);
    putU32(b, 20, secondId);
    return b;
}

Bytes extensionStatus(int32_t extension, uint8_t status) {
    Bytes b = record(kEveryHost, kExtensionStatus, 0, status, 12);
    putU32(b, 8, static_cast<uint32_t>(extension));
    return b;
}

Bytes parkList(const std::vector<Parked> &entries) {
    const size_t count = std::min(entries.size(), kMaxParked);
    Bytes b = record(kEveryHost, kParkList, 0, 0, 8 + 12 * count);
    for (size_t i = 0; i < count; ++i) {
        putU32(b, 8 + 12 * i, entries[i].key);
        putU32(b, 12 + 12 * i, entries[i].shown);
        putU32(b, 16 + 12 * i, entries[i].extra);
    }
    return b;
}

}  // namespace qsim::station
