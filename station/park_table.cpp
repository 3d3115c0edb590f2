#include "station/park_table.h"

#include <cstring>

#include "core/scratch.h"
#include "core/stack.h"
#include "core/wire.h"
#include "station/client.h"
#include "station/request_queue.h"

namespace qapi {
namespace {

constexpr size_t kParkEntryBytes = 12;
constexpr size_t kFirstEntry = 8;
static_assert(sizeof(ParkEntry) == kParkEntryBytes, "entries compare byte for byte");

// Entries announced by the length byte n (n = 3c + 1 for c entries), at
// most 32 and never more than the record holds.
size_t entryCount(const uint8_t *record, size_t length) {
    const size_t n = record[7];
    size_t count = n > 3 ? (n - 1) / 3 : 0;
    if (count > kParkEntries) count = kParkEntries;
    const size_t held = length > kFirstEntry ? (length - kFirstEntry) / kParkEntryBytes : 0;
    return count < held ? count : held;
}

// The decimal nibbles of a word, most significant first; 10 to 15 are left
// out.  Returns the position after the last character.
char *writeDecimalNibbles(char *out, uint32_t word) {
    for (int shift = 28; shift >= 0; shift -= 4) {
        const uint32_t nibble = (word >> shift) & 0xF;
        if (nibble < 10) *out++ = static_cast<char>('0' + nibble);
    }
    return out;
}

void writeParkLine(char *line, const ParkEntry &entry) {
    char *end = writeDecimalNibbles(line, static_cast<uint32_t>(entry.key));
    *end++ = ' ';
    writeDecimalNibbles(end, static_cast<uint32_t>(entry.secondWord));
}

}  // namespace

ParkTables &parkTables() {
    static ParkTables tables;
    return tables;
}

void resetParkTables() { std::memset(&parkTables(), 0xFF, sizeof(ParkTables)); }

void onParkList(const uint8_t *record, size_t length) {
    ParkTables &tables = parkTables();
    auto *list = cutScratchFor<QapiLineList>();
    std::memset(tables.current, 0xFF, sizeof tables.current);
    const size_t count = entryCount(record, length);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t *words = record + kFirstEntry + kParkEntryBytes * i;
        ParkEntry &entry = tables.current[i];
        entry.key = readI32le(words);
        entry.secondWord = readI32le(words + 4);
        entry.thirdWord = readU32le(words + 8);
        char *line = cutTextBlock();
        writeParkLine(line, entry);
        list->lines[i] = line;
    }
    const bool changed = std::memcmp(tables.current, tables.previous, sizeof tables.current) != 0;
    if (changed) std::memcpy(tables.previous, tables.current, sizeof tables.current);
    for (StationClient *client : stack().registry.clients) {
        if (!client || (!changed && client->parkListSent)) continue;
        client->parkListSent = 1;
        postNotify(client->target, QAPI_NOTIFY_PARK_LIST, reinterpret_cast<intptr_t>(list));
    }
}

}  // namespace qapi

using namespace qapi;

extern "C" {

int QAPI_CALL QAPI_Client_resume(QapiHandle handle, int32_t key) {
    StationClient *client = checkRegisteredClient(handle);
    // -1 is the key of every free entry, never of a parked call.
    if (!client || key == -1) return 1;
    for (const ParkEntry &entry : parkTables().current) {
        if (entry.key != key) continue;
        StationRequest request{};
        request.type = kResumeType;
        writeU32le(request.payload, static_cast<uint32_t>(key));
        return enqueueRequest(*client, request) ? 0 : 1;
    }
    return 1;
}

}  // extern "C"
