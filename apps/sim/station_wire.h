// The station protocol as the call server speaks it: the requests a station
// sends (to the multicast group) and the records the server sends back.
//
// A server record starts with the destination host (its IPv4 address as a
// little-endian word whose most significant byte is the first octet, or
// 0xFFFFFFFF for every host), then type, sub, extra and the length L: the
// record takes 4 + 4 * L bytes.  Records meant for a station carry its
// identifier at offset 8.  Several records may travel in one datagram.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/bytes.h"

namespace qsim::station {

// Requests (station to server).
inline constexpr uint8_t kRegisterRequest = 1;
inline constexpr uint8_t kNewCall = 4;
inline constexpr uint8_t kKeepAlive = 5;
inline constexpr uint8_t kFeatureKey = 16;
inline constexpr uint8_t kDeflect = 17;
inline constexpr uint8_t kAnswerWatched = 19;
inline constexpr uint8_t kIntrudeWatched = 20;
inline constexpr uint8_t kResume = 21;
inline constexpr uint8_t kTakeBack = 23;
inline constexpr uint8_t kWatchList = 24;
inline constexpr uint8_t kDigits = 25;
inline constexpr uint8_t kSequenceBit = 0x80;

// Records (server to station).
inline constexpr uint8_t kRegistrationReply = 0x81;
inline constexpr uint8_t kStatusReply = 0x83;
inline constexpr uint8_t kAcknowledge = 0xBF;
inline constexpr uint8_t kCallEvent = 0xC0;
inline constexpr uint8_t kStationEvent = 0xC1;
inline constexpr uint8_t kNumberInfo = 0xC2;
inline constexpr uint8_t kExtensionStatus = 0xC3;
inline constexpr uint8_t kParkList = 0xC5;
inline constexpr uint8_t kCallEntry = 0xC6;
inline constexpr uint8_t kDisplayText = 0xC8;

inline constexpr uint32_t kEveryHost = 0xFFFFFFFF;
inline constexpr uint16_t kNoReference = 0xFFFF;
inline constexpr size_t kMaxParked = 32;

// A request as received: 12 bytes of header, then the payload (32 or 64
// bytes, or none).
struct Request {
    uint8_t type = 0;
    uint8_t sequence = 0;  // 0x80 | slot for queued requests, 0 otherwise
    uint16_t code = 0;     // feature code, or a small parameter
    uint32_t word = 0;     // station identifier (registration) or token
    Bytes payload;         // from offset 12
    bool queued() const { return (sequence & kSequenceBit) != 0; }
    // The i32 at payload offset `at`, or -1 when the payload is shorter.
    int32_t payloadI32(size_t at) const;
};

// Takes a datagram that is a request (at least 12 bytes, first word 0).
std::optional<Request> parseRequest(const uint8_t *data, size_t size);
// What a request asks, for the log: "keep-alive", "deflect 4712",
// "feature key 167", "watch list 201 202" ...
std::string requestText(const Request &r);
// The first record of a datagram the server sends, for the log:
// "station 17 status reply", "extension status" ...
std::string recordText(const Bytes &datagram);

// Station records; `host` is the destination word.
Bytes registrationReply(uint32_t host, int32_t station, uint8_t state, uint32_t token, uint32_t flags);
Bytes statusReply(uint32_t host, int32_t station, uint8_t state, uint32_t flags);
Bytes acknowledge(uint32_t host, int32_t station, uint8_t sequence);

// A call event (0xC0) or station event (0xC1): the sub-code names the event;
// `previous` is the state the server had for the station before it.
struct Event {
    uint8_t type = kCallEvent;
    uint8_t sub = 0;
    uint8_t previous = 0;
    uint16_t word = 0;
    uint16_t reference = kNoReference;
    uint32_t flags = 0;
};
Bytes event(uint32_t host, int32_t station, const Event &e);

Bytes numberInfo(uint32_t host, int32_t station, const std::string &digits);
Bytes displayText(uint32_t host, int32_t station, const std::string &text);
// One call of the station's call list; state 0 takes it off the list.
Bytes callEntry(uint32_t host, int32_t station, uint8_t state, uint16_t number, uint32_t firstId,
                uint32_t secondId);

// Broadcasts.
Bytes extensionStatus(int32_t extension, uint8_t status);
struct Parked {
    uint32_t key;
    uint32_t shown;  // the second word, shown after the key
    uint32_t extra;
};
Bytes parkList(const std::vector<Parked> &entries);

}  // namespace qsim::station
