// The station protocol: the records the call server multicasts to the
// stations and the requests a station sends to the server.  Every multi-byte
// field is little-endian; offsets count from the start of the record.
//
// A datagram from the server holds records back to back from offset 0.  Each
// record starts with an 8-byte header: the destination (this host's IPv4
// address, kBroadcast for every host, kNoFurtherRecords to end the
// datagram), then type, sub, extra and the length byte L: the record
// occupies 4 + 4 x L bytes.  A record for one station carries the station's
// identifier right after the header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qapi {

// ---- Records from the server ----

inline constexpr uint32_t kBroadcast = 0xFFFFFFFF;
inline constexpr uint32_t kNoFurtherRecords = 0;

struct RecordHeader {
    static constexpr size_t kDestination = 0;
    static constexpr size_t kType = 4;
    static constexpr size_t kSub = 5;  // sub-code, sequence byte, call state or value, by type
    static constexpr size_t kExtra = 6;
    static constexpr size_t kLength = 7;   // L
    static constexpr size_t kStation = 8;  // the station a record for one station is for
    static constexpr size_t kSize = 8;
    static constexpr size_t kStationRecordSize = 12;  // the header and the station word
};

// The bytes a record occupies by its length byte L.
constexpr size_t recordLengthOf(uint8_t lengthByte) { return 4 + 4 * static_cast<size_t>(lengthByte); }

enum RecordType : uint8_t {
    kReevaluateType = 4,  // both re-evaluations concern every station
    kReevaluateType2 = 9,
    kRegistrationReplyType = 0x81,
    kStatusReplyType = 0x83,
    kRegistrationRefusedType = 0xBE,
    kAcknowledgeType = 0xBF,
    kCallEventType = 0xC0,
    kStationEventType = 0xC1,
    kNumberInfoType = 0xC2,
    kExtensionStatusType = 0xC3,  // broadcast
    kInfoValueType = 0xC4,        // the value in the sub byte
    kParkListType = 0xC5,         // broadcast
    kCallEntryType = 0xC6,
    kFlagsUpdateType = 0xC7,
    kDisplayTextType = 0xC8,
};

// RegistrationReply: the station's first call state in the sub byte.
struct RegistrationReply {
    static constexpr size_t kToken = 12;
    static constexpr size_t kFlags = 16;
    static constexpr size_t kShort = 20;   // i16
    static constexpr size_t kValues = 24;  // four i32
    static constexpr size_t kSize = 40;
};

// RegistrationRefused: the reason in the sub byte.
enum RefusalReason : uint8_t {
    kRefusedUnknownUser = 1,    // user or IP address invalid
    kRefusedSharedAddress = 2,  // several users with the same IP address
};

// StatusReply (the station's call state in the sub byte) and FlagsUpdate.
struct FlagsRecord {
    static constexpr size_t kFlags = 12;
    static constexpr size_t kSize = 16;
};

// Acknowledge: the sequence byte of the acknowledged request in the sub byte;
// RecordHeader::kStationRecordSize bytes.

// CallEvent and StationEvent: the sub-code in the sub byte.
struct EventRecord {
    static constexpr size_t kWord = 12;         // u16: indicator code, dial code or value
    static constexpr size_t kServerState = 16;  // the server's call state
    static constexpr size_t kRef = 18;          // u16; kNoEventRef = none
    static constexpr size_t kFlags = 20;
    static constexpr size_t kSize = 24;
};
inline constexpr uint16_t kNoEventRef = 0xFFFF;

// A server call state whose events are handled on their own: a call event
// of sub-code 2 or 5 and every station event only drop the connected flag,
// a call event of sub-code 13 connects, any other call event is ignored.
inline constexpr uint8_t kServerStateSpecial = 30;

enum CallEventSub : uint8_t {
    kCallEventIdle = 1,
    kCallEventCleared = 2,
    kCallEventPickup = 3,
    kCallEventRouting = 4,
    kCallEventReleased = 5,
    kCallEventAlerting = 6,
    kCallEventRingback = 7,
    kCallEventAnswered = 8,
    kCallEventIndicator = 12,  // the indicator code in the event word
    kCallEventConnected = 13,
    kCallEventKey = 15,    // the dial code of a key in the event word, when its high byte is set
    kCallEventValue = 23,  // the event word is the station's event value
    kCallEventTalking = 34,
};

enum StationEventSub : uint8_t {
    kStationEventDialling = 1,
    kStationEventDigit = 2,  // the dial code of the digit dialed in the event word
    // The three that end a call unless the far end is still connected.
    kStationEventHangUp = 4,
    kStationEventRelease = 9,
    kStationEventDisconnect = 16,
    kStationEventTalking = 10,
};

// A digit event whose event word has this high byte is not shown.
inline constexpr uint8_t kDigitEchoSkipped = 0x0B;

// Indicator codes of a call event of sub-code kCallEventIndicator.
enum IndicatorCode : uint8_t {
    kIndicator1On = 0,
    kIndicator1Off = 1,
    kIndicator2On = 121,
    kIndicator2Off = 122,
    kIndicator3On = 66,
    kIndicator3Off = 67,
    kIndicator3OffToo = 128,
};

// The event word that, in the cleared state, lets the station transfer.
inline constexpr uint16_t kTransferableEventWord = 17;

// NumberInfo: the number's kind in the extra byte (only kPlainNumber is
// shown), then 28 dial codes.
struct NumberInfo {
    static constexpr size_t kCodes = 12;
    static constexpr size_t kSize = 40;
};
inline constexpr uint8_t kPlainNumber = 0;

// CallEntry: the call's state in the sub byte.  A record of length byte
// kShortLength carries no identifiers.
struct CallEntryRecord {
    static constexpr size_t kNumber = 12;  // u16
    static constexpr size_t kFirstId = 16;
    static constexpr size_t kSecondId = 20;
    static constexpr size_t kSize = 24;
    static constexpr size_t kShortSize = 16;
    static constexpr uint8_t kShortLength = 3;
};

// Call states of a call entry; an entry in any other state is not listed.
enum CallEntryState : uint8_t {
    kCallFree = 0,
    kCallRouting1 = 1,
    kCallRouting2 = 2,
    kCallRouting3 = 3,
    kCallRouting4 = 4,
    kCallSeized = 5,
    kCallRouted = 6,
    kCallActive = 7,
    kCallCamped = 25,
};

// DisplayText: 32 characters, not necessarily NUL-terminated; only a record
// of length byte kLength is taken.
struct DisplayText {
    static constexpr size_t kText = 12;
    static constexpr size_t kChars = 32;
    static constexpr uint8_t kLength = 10;
};

// ExtensionStatus (broadcast): the status in the extra byte.
struct ExtensionStatusRecord {
    static constexpr size_t kExtension = 8;
    static constexpr size_t kSize = 12;
};
// Statuses of a watched extension that an operation needs.
enum ExtensionStatusCode : uint8_t {
    kExtensionAnswerable = 2,  // its call may be answered
    kExtensionIntrudable = 3,  // its call may be intruded on
};

// ParkList (broadcast): entries of three words from kFirstEntry on; the
// length byte of a list of c entries is 3c + 1.
struct ParkListRecord {
    static constexpr size_t kFirstEntry = 8;
    static constexpr size_t kEntrySize = 12;
    static constexpr size_t kWordsPerEntry = 3;
    // Within an entry.
    static constexpr size_t kKey = 0;    // i32: what a resume request names
    static constexpr size_t kShown = 4;  // i32: shown after the key
    static constexpr size_t kOther = 8;  // u32
};
inline constexpr int32_t kNoParkKey = -1;  // the key of a free entry, never of a parked call

// ---- Requests from a station ----

// The 12-byte header of every request; the payload follows it.
struct RequestHeader {
    static constexpr size_t kDestination = 0;  // always 0
    static constexpr size_t kType = 4;
    static constexpr size_t kSequence = 5;  // slot | kSequenceBit for a queued request, else 0
    static constexpr size_t kCode = 6;      // u16: feature code, a small parameter, or 0
    static constexpr size_t kWord = 8;      // the station (registration) or the registration token
    static constexpr size_t kPayload = 12;
};
inline constexpr uint8_t kSequenceBit = 0x80;

// Wire lengths of a request.
inline constexpr int kHeaderOnlyLength = 12;    // a request with a code
inline constexpr int kShortRequestLength = 44;  // header and 32 payload bytes
inline constexpr int kLongRequestLength = 76;   // header and 64 payload bytes

enum RequestType : uint8_t {
    kRegisterRequestType = 1,  // straight to the group, never acknowledged
    kNewCallType = 4,          // straight to the group, never acknowledged
    kKeepAliveType = 5,        // straight to the group, never acknowledged
    kFeatureKeyType = 16,      // header only: the feature code
    kDeflectType = 17,         // 32 dial codes
    kWatchAnswerType = 19,     // the watched extension
    kWatchIntrudeType = 20,    // the watched extension
    kResumeType = 21,          // the parked call's key
    kTransferUndoType = 23,    // code: the call's number plus one
    kMonitorListType = 24,     // 16 extensions: the only 76-byte request
    kDialDigitsType = 25,      // 32 dial codes
};

inline constexpr size_t kExtensionsPerRequest = 16;  // of a monitor list

// Feature codes of the FeatureKey request.
enum FeatureCode : uint16_t {
    kClearKey = 160,
    kHoldKey = 161,
    kConferenceKey = 162,
    kTransferKey = 163,
    kRetrieveKey = 164,
    kCallbackKey = 165,
    kAnswerKey = 167,
    kSuspendKey = 171,  // follows a hold key
    kMailboxKey = 172,
    kRecordStartKey = 173,
    kRecordStopKey = 174,
};

// ---- What the library makes of them ----

// The flag bits of the server's call flags.
inline constexpr uint32_t kFlagConnected = 0x1;      // retrieve, conference, callback, transfer
inline constexpr uint32_t kFlagCallback = 0x2;       // callback instead of conference
inline constexpr uint32_t kFlagTransferable = 0x10;  // transfer while the far end clears
inline constexpr uint32_t kFlagMailbox = 0x20;
inline constexpr uint32_t kFlagRecordStart = 0x40;
inline constexpr uint32_t kFlagRecording = 0x80;
inline constexpr uint32_t kFlagCallAllowed = 0x100;  // new call, answer
inline constexpr uint32_t kFlagBlocked = 0x200;      // clears every other bit

// Station call states: the events lead to these.  The registration and status
// replies pass the server's byte as it is, so any value can occur; a state not
// named here allows clear and retrieve only.
enum StationState : uint8_t {
    kStateIdle = 0,
    kStateDialling = 1,  // a new dialing starts
    kStatePickup = 2,    // pickup and mailbox while nothing is dialed
    kStateRouting = 3,
    kStateRingback = 4,  // transfer once connected
    kStateAlerting = 6,
    kStateActive = 7,      // answerable
    kStateAnswerable = 9,  // answerable
    kStateTalking = 10,
    kStateCleared = 12,  // clears the indicators
    kStateCamped = 25,   // answerable
};

}  // namespace qapi
