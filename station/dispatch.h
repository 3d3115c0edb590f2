// What a station client does with a record that the server addressed to this
// host: it takes the records of its own station (and the untyped
// re-evaluations that concern every station), follows the registration,
// takes the server's flags and call state, and reports numbers, digits and
// texts to the application.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qapi {

struct StationClient;

// Record types.
inline constexpr uint8_t kReevaluateType = 4;
inline constexpr uint8_t kReevaluateType2 = 9;
inline constexpr uint8_t kRegistrationReplyType = 0x81;
inline constexpr uint8_t kStatusReplyType = 0x83;
inline constexpr uint8_t kRegistrationRefusedType = 0xBE;
inline constexpr uint8_t kAcknowledgeType = 0xBF;
inline constexpr uint8_t kCallEventType = 0xC0;
inline constexpr uint8_t kStationEventType = 0xC1;
inline constexpr uint8_t kNumberInfoType = 0xC2;
inline constexpr uint8_t kInfoValueType = 0xC4;
inline constexpr uint8_t kCallEntryType = 0xC6;
inline constexpr uint8_t kFlagsUpdateType = 0xC7;
inline constexpr uint8_t kDisplayTextType = 0xC8;

// Bytes every record of a station must hold: the header and the station word.
inline constexpr size_t kStationRecordMinimum = 12;

// `record` holds `length` received bytes (4 + 4 x L of its header); a record
// shorter than what its handling reads is ignored.
void handleStationRecord(StationClient &client, const uint8_t *record, size_t length);

// Call and station events (type 0xC0 and 0xC1), at least 24 bytes.
void onCallEvent(StationClient &client, const uint8_t *record);
void onStationEvent(StationClient &client, const uint8_t *record);

}  // namespace qapi
