// The commands a consumer sends to quentara.<site>.commands: a JSON object
// {"op": ..., "station": 17, "args": {...}}.  Every station operation of the
// library (newcall, digits, answer, clear, hold, retrieve, callb, suspend,
// conference, transfer, record_start, record_stop, mailbox, transfer_undo,
// deflect, bdp_register, bdp_answer, bdp_intrude, resume), route_response
// and snapshot.  The reply is {"ok": true} (snapshot: with "state"), or
// {"ok": false, "error": "..."}; whatever the body holds, it is answered.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bridge/site_state.h"
#include "qapi.h"

namespace qbridge {

class CommandTarget {
public:
    virtual ~CommandTarget() = default;
    // The handle of a station the bridge drives (null when it drives none of that id).
    virtual QapiHandle stationHandle(int32_t id) = 0;
    virtual const StationView *stationView(int32_t id) = 0;
    // Answers a routing question for a consumer (`appId`: the application
    // it named, if any): empty, or why not.
    virtual std::string answerRoute(uint32_t handle, const char *digits, int32_t value,
                                    const std::string &appId) = 0;
    // The whole state, a JSON object.
    virtual std::string state() = 0;
};

// Carries out the command in `body` (sent by the application `appId`, if it
// named itself) and gives the reply.
std::string runCommand(std::string_view body, const std::string &appId, CommandTarget &target);
std::string errorReply(const std::string &why);

}  // namespace qbridge
