#include "station/client_index.h"

#include <cstring>

#include "core/wire.h"
#include "station/client.h"
#include "station/dispatch.h"
#include "station/protocol.h"

namespace qapi {
namespace {

// One entry per client in the table, ordered by identifier, then slot; the
// identifiers apart from the slots, so that a search reads 2 KiB at most.
struct ClientIndex {
    int32_t ids[kMaxClients];
    uint16_t slots[kMaxClients];
    size_t count;

    // The first entry whose identifier is not below `id` (count when none):
    // a binary search without branches on the data.
    size_t lowerBound(int32_t id) const {
        if (count == 0) return 0;
        const int32_t *base = ids;
        for (size_t n = count; n > 1;) {
            const size_t half = n / 2;
            base = base[half] < id ? base + half : base;
            n -= half;
        }
        return static_cast<size_t>(base - ids) + (*base < id ? 1 : 0);
    }
    // One past the last entry of `id`, searching from `first`.
    size_t endOf(int32_t id, size_t first) const {
        while (first < count && ids[first] == id) ++first;
        return first;
    }
    void insertAt(size_t at, int32_t id, uint16_t slot) {
        std::memmove(ids + at + 1, ids + at, (count - at) * sizeof ids[0]);
        std::memmove(slots + at + 1, slots + at, (count - at) * sizeof slots[0]);
        ids[at] = id;
        slots[at] = slot;
        ++count;
    }
    void eraseAt(size_t at) {
        std::memmove(ids + at, ids + at + 1, (count - at - 1) * sizeof ids[0]);
        std::memmove(slots + at, slots + at + 1, (count - at - 1) * sizeof slots[0]);
        --count;
    }
};

ClientIndex &clientIndex() {
    static ClientIndex index;
    return index;
}

void handleInSlot(uint16_t slot, const uint8_t *record, size_t length) {
    if (StationClient *client = stationClients()[slot]) stationHandleRecord(*client, record, length);
}

}  // namespace

void stationIndexAdd(int32_t stationId, size_t slot) {
    ClientIndex &index = clientIndex();
    if (index.count == kMaxClients) return;
    size_t at = index.lowerBound(stationId);
    while (at < index.count && index.ids[at] == stationId && index.slots[at] < slot) ++at;
    index.insertAt(at, stationId, static_cast<uint16_t>(slot));
}

void stationIndexRemove(size_t slot) {
    ClientIndex &index = clientIndex();
    for (size_t at = 0; at < index.count; ++at) {
        if (index.slots[at] == slot) return index.eraseAt(at);
    }
}

void stationIndexClear() { clientIndex().count = 0; }

void stationIndexChange(size_t slot, int32_t stationId) {
    stationIndexRemove(slot);
    stationIndexAdd(stationId, slot);
}

void stationHandleHostRecord(const uint8_t *record, size_t length) {
    // Every handler ignores a record without its station word.
    if (length < RecordHeader::kStationRecordSize) return;
    const uint8_t type = record[RecordHeader::kType];
    if (type == kReevaluateType || type == kReevaluateType2)
        return stationHandleHostRecordByEveryClient(record, length);
    const ClientIndex &index = clientIndex();
    const int32_t stationId = readI32le(record + RecordHeader::kStation);
    const size_t first = index.lowerBound(stationId), last = index.endOf(stationId, first);
    if (type != kRegistrationReplyType || stationId == kAnyStation) {
        // No other record changes an identifier: the entries stay put.
        for (size_t at = first; at < last; ++at) handleInSlot(index.slots[at], record, length);
        return;
    }
    // A client waiting for its identifier takes the reply's and moves in the
    // index: the slots are taken first, merged in slot order.
    const size_t anyFirst = index.lowerBound(kAnyStation), anyLast = index.endOf(kAnyStation, anyFirst);
    uint16_t slots[kMaxClients];
    size_t n = 0;
    for (size_t a = first, b = anyFirst; a < last || b < anyLast;) {
        const bool fromA = b == anyLast || (a < last && index.slots[a] < index.slots[b]);
        slots[n++] = index.slots[fromA ? a++ : b++];
    }
    for (size_t i = 0; i < n; ++i) handleInSlot(slots[i], record, length);
}

void stationHandleHostRecordByEveryClient(const uint8_t *record, size_t length) {
    stationClients().forEach([&](StationClient &client) { stationHandleRecord(client, record, length); });
}

}  // namespace qapi
