#include "station/park_table.h"

#include <cstring>

#include "core/scratch.h"
#include "core/wire.h"
#include "station/client.h"
#include "station/protocol.h"
#include "station/request_queue.h"

namespace qapi {
namespace {

using Layout = ParkListRecord;
constexpr uint8_t kFreeEntryByte = 0xFF;  // every byte of a free entry
static_assert(sizeof(ParkEntry) == Layout::kEntrySize, "entries compare byte for byte");

// Entries announced by the length byte n (n = 3c + 1 for c entries), at
// most 32 and never more than the record holds.
size_t entryCount(const uint8_t *record, size_t length) {
    const size_t n = record[RecordHeader::kLength];
    size_t count = n > Layout::kWordsPerEntry ? (n - 1) / Layout::kWordsPerEntry : 0;
    if (count > kParkEntries) count = kParkEntries;
    const size_t held =
        length > Layout::kFirstEntry ? (length - Layout::kFirstEntry) / Layout::kEntrySize : 0;
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

QapiLineList *renderParkList(const ParkEntry *entries, size_t count) {
    auto *list = cutScratchFor<QapiLineList>();
    for (size_t i = 0; i < count; ++i) {
        char *line = cutTextBlock();
        writeParkLine(line, entries[i]);
        list->lines[i] = line;
    }
    return list;
}

}  // namespace

ParkTables &stationParkTables() {
    static ParkTables tables;
    return tables;
}

void stationResetParkTables() { std::memset(&stationParkTables(), kFreeEntryByte, sizeof(ParkTables)); }

void stationOnParkList(const uint8_t *record, size_t length) {
    ParkTables &tables = stationParkTables();
    std::memset(tables.current, kFreeEntryByte, sizeof tables.current);
    const size_t count = entryCount(record, length);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t *words = record + Layout::kFirstEntry + Layout::kEntrySize * i;
        ParkEntry &entry = tables.current[i];
        entry.key = readI32le(words + Layout::kKey);
        entry.secondWord = readI32le(words + Layout::kShown);
        entry.thirdWord = readU32le(words + Layout::kOther);
    }
    const bool changed = std::memcmp(tables.current, tables.previous, sizeof tables.current) != 0;
    if (changed) std::memcpy(tables.previous, tables.current, sizeof tables.current);
    // The list is cut only when some client is to be sent it: every client
    // when it changed, else those that have not had it yet.
    QapiLineList *list = nullptr;
    stationClients().forEach([&](StationClient &client) {
        if (!changed && client.parkListSent) return;
        if (!list) list = renderParkList(tables.current, count);
        // A list the queue refused is not counted as sent: the next park list
        // goes to this client even when it is the same.
        client.parkListSent =
            postNotify(client.target, QAPI_NOTIFY_PARK_LIST, reinterpret_cast<intptr_t>(list)) != 0 ? 1 : 0;
    });
}

}  // namespace qapi

using namespace qapi;

extern "C" {

int QAPI_CALL QAPI_Client_resume(QapiHandle handle, int32_t key) {
    StationClient *client = stationFindRegisteredClient(handle);
    if (!client || key == kNoParkKey) return 1;
    for (const ParkEntry &entry : stationParkTables().current) {
        if (entry.key != key) continue;
        StationRequest request{};
        request.type = kResumeType;
        writeU32le(request.payload, static_cast<uint32_t>(key));
        return stationEnqueueRequest(*client, request) ? 0 : 1;
    }
    return 1;
}

}  // extern "C"
