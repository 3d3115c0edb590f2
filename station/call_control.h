// Call control of a station: starting calls, dialing, the feature keys,
// taking back a listed call and deflecting, each gated by the permission
// byte that updateFeatures keeps; and the digit-dial timer that gathers
// digits dialed in quick succession into one request.
#pragma once

#include <cstdint>

namespace qapi {

struct StationClient;

// Request types of the call-control operations.
inline constexpr uint8_t kNewCallType = 4;        // sent directly, never queued
inline constexpr uint8_t kDeflectType = 17;
inline constexpr uint8_t kTransferUndoType = 23;  // code: the call's number plus one
inline constexpr uint8_t kDialDigitsType = 25;

// Feature codes of the FeatureKey request.
inline constexpr uint16_t kClearKey = 160;
inline constexpr uint16_t kHoldKey = 161;
inline constexpr uint16_t kConferenceKey = 162;
inline constexpr uint16_t kTransferKey = 163;
inline constexpr uint16_t kRetrieveKey = 164;
inline constexpr uint16_t kCallbackKey = 165;
inline constexpr uint16_t kAnswerKey = 167;
inline constexpr uint16_t kSuspendKey = 171;      // follows a hold key
inline constexpr uint16_t kMailboxKey = 172;
inline constexpr uint16_t kRecordStartKey = 173;
inline constexpr uint16_t kRecordStopKey = 174;

// Qualifying ticks from the last accepted digit to the digits request.
inline constexpr int32_t kDialDelayTicks = 4;

// The digit-dial step of a registered client's tick: when the countdown
// runs out, the pending codes go as one request (or are dropped when the
// station no longer takes digits).  Codes the full queue cannot take stay
// pending and go on the next qualifying tick.
void tickDialTimer(StationClient &client);

}  // namespace qapi
