#include "call_records/record_key.h"

#include <cstring>
#include <type_traits>

#include "call_records/record_fields.h"
#include "call_records/sha256.h"

namespace qrecords {

RecordKey recordKey(const QapiCmdrRecordPayload &record, uint16_t port) {
    Sha256 hash;
    hash.add("qapi-cdr record key 1");
    const uint8_t portBytes[2] = {static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port)};
    hash.add(portBytes, 2);
    // Every field, each framed (a number as 8 bytes, a text by its length),
    // so that no two different records give the same bytes.
    forEachRecordField(record, [&hash](const char *, const auto &value) {
        uint8_t frame[8];
        uint64_t v = 0;
        if constexpr (std::is_same_v<std::decay_t<decltype(value)>, int64_t>) {
            v = static_cast<uint64_t>(value);
        } else {
            v = value.size();
        }
        for (int i = 0; i < 8; ++i) frame[i] = static_cast<uint8_t>(v >> (8 * i));
        hash.add(frame, 8);
        if constexpr (!std::is_same_v<std::decay_t<decltype(value)>, int64_t>) hash.add(value);
    });
    const auto digest = hash.finish();
    RecordKey key{};
    std::memcpy(key.data(), digest.data(), key.size());
    return key;
}

}  // namespace qrecords
