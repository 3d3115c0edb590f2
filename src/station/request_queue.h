// The request queue of a station client: a ring of 64 requests of which one
// is outstanding at a time.  It goes out at once when the queue was idle, is
// sent again every 20 ticks until the server acknowledges its sequence byte,
// and the acknowledgement sends the next one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "station/request.h"

namespace qapi {

struct StationClient;

inline constexpr int32_t kRetransmitTicks = 20;

// Queues `request` (type, code and payload filled by the caller; its
// destination and token are overwritten).  Returns false, queuing nothing,
// when 63 requests already wait: nothing queued is ever lost.
bool stationEnqueueRequest(StationClient &client, StationRequest &request);

// How many more requests the queue takes now (0 to 63).
int stationRequestRoom(const StationClient &client);

// Sends the outstanding request; 0 = handed to the platform, 1 = not sent.
int stationSendOutstanding(StationClient &client);

// Queues a feature-key request (header only) with `code`.
bool stationSendFeatureKey(StationClient &client, uint16_t code);

// The retransmission step of a registered client's tick.
void stationTickRetransmit(StationClient &client);

// An Acknowledge record (at least 12 bytes) for this client.
void stationOnAcknowledge(StationClient &client, const uint8_t *record, size_t length);

// The wire length of a request: 12 with a code, 76 for the monitor list,
// 44 otherwise.
int stationRequestWireLength(const StationRequest &request);

}  // namespace qapi
