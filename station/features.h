// Which operations a station allows at the moment: derived from its call
// state and the server's flag bits, and reported to the application whenever
// the visible status changed.
#pragma once

#include <cstdint>

#include "qapi.h"

namespace qapi {

struct StationClient;

// callFlags bits.
inline constexpr uint32_t kFlagConnected = 0x1;     // retrieve, conference, callback, transfer
inline constexpr uint32_t kFlagCallback = 0x2;      // callback instead of conference
inline constexpr uint32_t kFlagTransferable = 0x10; // transfer while the far end clears
inline constexpr uint32_t kFlagMailbox = 0x20;
inline constexpr uint32_t kFlagRecordStart = 0x40;
inline constexpr uint32_t kFlagRecording = 0x80;
inline constexpr uint32_t kFlagCallAllowed = 0x100; // new call, answer
inline constexpr uint32_t kFlagBlocked = 0x200;     // clears every other bit

// Station call states with rules of their own.
inline constexpr uint8_t kStateIdle = 0;
inline constexpr uint8_t kStateAlerting = 6;
inline constexpr uint8_t kStateTalking = 10;
inline constexpr uint8_t kStateCleared = 12;

// Takes `state` as the station's call state: clears what belongs to the
// previous call, recomputes every permission byte, and posts the snapshot
// when regState to indicator3 differ from the last one it posted.
void updateFeatures(StationClient &client, uint8_t state);

// Sets every permission byte (snapshot bytes canNewcall to canPickup) to 0:
// a station that is not registered allows nothing.
void clearPermissions(StationClient &client);

// True when the visible fields (regState to indicator3) of the two differ.
bool visibleStatusDiffers(const QapiStatusSnapshot &a, const QapiStatusSnapshot &b);

}  // namespace qapi
