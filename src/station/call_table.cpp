#include "station/call_table.h"

#include <cstring>

#include "core/notify.h"
#include "core/scratch.h"
#include "station/client.h"
#include "station/protocol.h"

namespace qapi {
namespace {

// Columns of a line: the number (4 digits), the two identifiers (8
// characters each) and the state's label.
constexpr size_t kNumberDigits = 4;
constexpr size_t kFirstIdColumn = 5;
constexpr size_t kSecondIdColumn = 14;
constexpr size_t kLabelColumn = 22;
constexpr size_t kLabelLength = 15;
static_assert(kLabelColumn + kLabelLength == kCallLineLength);

// The label of a kept state, null for a state that is not kept.
const char *stateLabel(uint8_t state) {
    switch (state) {
    case kCallRouting1:
    case kCallRouting2:
    case kCallRouting3:
    case kCallRouting4:
        return "Routing        ";
    case kCallSeized:
        return "Seized         ";
    case kCallRouted:
        return "Routed         ";
    case kCallActive:
        return "Active         ";
    case kCallCamped:
        return "Camped         ";
    default:
        return nullptr;
    }
}

bool showsNumber(uint8_t state) { return state == kCallSeized || state == kCallCamped; }

// Eight characters, most significant nibble first: 0-9, A-E, and a blank for 15.
void writeIdentifier(char *out, uint32_t id) {
    static constexpr char kNibble[] = "0123456789ABCDE ";
    for (int i = 0; i < 8; ++i) out[i] = kNibble[(id >> (28 - 4 * i)) & 0xF];
}

void writeLine(char *line, const CallEntry &entry, const char *label) {
    std::memset(line, ' ', kCallLineLength);
    if (showsNumber(entry.state)) {
        unsigned n = entry.number;
        for (size_t i = kNumberDigits; i-- > 0; n /= 10) line[i] = static_cast<char>('0' + n % 10);
    }
    writeIdentifier(line + kFirstIdColumn, entry.firstId);
    writeIdentifier(line + kSecondIdColumn, entry.secondId);
    std::memcpy(line + kLabelColumn, label, kLabelLength);
    line[kCallLineLength] = '\0';
}

CallEntry *findInUse(StationClient &client, uint16_t number) {
    for (CallEntry &e : client.callTable) {
        if (e.state != kCallFree && e.number == number) return &e;
    }
    return nullptr;
}

CallEntry *findFree(StationClient &client) {
    for (CallEntry &e : client.callTable) {
        if (e.state == kCallFree) return &e;
    }
    return nullptr;
}

}  // namespace

const CallEntry *stationFindCall(const StationClient &client, uint16_t number) {
    return findInUse(const_cast<StationClient &>(client), number);
}

void stationUpdateCallTable(StationClient &client, const CallEntry &entry) {
    CallEntry *slot = findInUse(client, entry.number);
    if (!slot) {
        if (entry.firstId == kNoCallId && entry.secondId == kNoCallId) return;
        slot = findFree(client);
        if (!slot) return;
    }
    *slot = entry;
    postNotify(client.target, QAPI_NOTIFY_CALL_LIST,
               reinterpret_cast<intptr_t>(stationRenderCallList(client)));
}

QapiLineList *stationRenderCallList(StationClient &client) {
    auto *list = cutScratchFor<QapiLineList>();
    size_t lines = 0;
    for (CallEntry &entry : client.callTable) {
        const char *label = stateLabel(entry.state);
        if (!label) {
            entry = CallEntry{};
            continue;
        }
        char *line = cutTextBlock();
        writeLine(line, entry, label);
        list->lines[lines++] = line;
    }
    return list;
}

}  // namespace qapi
