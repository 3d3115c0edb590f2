// How many identical records came before a record on the same connection.
// A server that sends a record again after a reconnect sends it on a new
// connection, where the count starts again: the copy gets the number that
// the record got the first time, and the unique index turns it away.  Two
// identical calls on one connection get 0 and 1, and both are kept.
//
// Identical records share their date and time, so the counts of records
// whose time lies more than a day before the newest one seen are let go:
// the memory stays bounded however long a connection lasts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include "call_records/record_key.h"

namespace qrecords {

class Occurrences {
public:
    // The number of `record` (with `key`) on this connection: 0 the first time.
    uint32_t next(const RecordKey &key, const QapiCmdrRecordPayload &record);
    // A new connection.
    void reset();
    size_t remembered() const { return counts_.size(); }

private:
    struct Hash {
        size_t operator()(const RecordKey &k) const;
    };
    struct Count {
        uint32_t seen;
        int64_t time;  // the record's time, in seconds on a scale that keeps their order
    };
    void forgetOld();
    std::unordered_map<RecordKey, Count, Hash> counts_;
    int64_t newest_ = 0;
    size_t sinceCleanup_ = 0;
};

}  // namespace qrecords
