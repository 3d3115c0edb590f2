// What the server's side caused and what the application received, station
// client by station client.  The station side notes, for every record it
// sends, which notification it must bring and to whom, knowing only what it
// sent itself and what the application asked for; the application notes what
// arrived.  Each kind is kept as a count and an order-free sum of the
// contents, so that a lost, doubled or damaged notification shows; and, for
// the kinds only the server's records bring (extension statuses, call
// lists), as a chain of the contents in order, so that a reordered one shows
// too.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/bytes.h"

namespace qapi::soak {

inline constexpr size_t kStations = 512;
inline constexpr int32_t kFirstStation = 100;
inline constexpr size_t kWatchesPerWatcher = 4;     // every fourth client watches the next four stations
inline constexpr int32_t kEveryonesExtension = 99;  // watched by every client for a while each hour

// The kinds counted this way.
enum Kind : size_t { kText, kNumber, kExtension, kCallList, kParkList, kKinds };
const char *kindName(size_t kind);
// The kinds whose order the ledger knows.
inline bool orderedKind(size_t kind) { return kind == kExtension || kind == kCallList; }

struct Tally {
    uint64_t count = 0;
    uint64_t sum = 0;
    uint64_t chain = 0;  // the contents in order
    void add(uint64_t contentHash) {
        ++count;
        sum += contentHash;
        chain = (chain ^ contentHash) * 0x100000001B3ULL + count;
    }
    // The same notifications (and, with `inOrder`, in the same order).
    bool same(const Tally &o, bool inOrder) const {
        return count == o.count && sum == o.sum && (!inOrder || chain == o.chain);
    }
};

uint64_t hashOf(const void *bytes, size_t size, uint64_t seed = 0);
uint64_t hashOfText(const char *text);  // to its NUL, at most 128 bytes

// The call list of one station as the server's entries leave it: the rules
// by which the station client keeps it (an entry of a known number is
// replaced, a new one with identifiers takes the lowest free slot, and only
// the listed states stay).
struct CallListModel {
    struct Entry {
        uint8_t state;
        uint16_t number;
        uint32_t firstId;
        uint32_t secondId;
    };
    std::array<Entry, 32> slots{};
    // Takes one entry; false when the client posts nothing for it.
    bool take(const Entry &entry);
    // The hash of the lines the client posts after it.
    uint64_t hashOfLines();
};
uint64_t hashOfLines(const char *const *lines);  // the lines of a posted list, to its null

struct ClientLedger {
    bool registered = false;   // the last registration reply sent was taken, no failure since
    bool hadParkList = false;  // this client (since its start) was posted a park list
    int32_t watched[kWatchesPerWatcher] = {-1, -1, -1, -1};
    int32_t alsoWatched = -1;  // kEveryonesExtension while every client watches it
    std::array<Tally, kKinds> caused{};
    std::array<Tally, kKinds> received{};
    uint64_t ownTexts = 0;  // dialed texts the application's own operations posted
    CallListModel calls;
    void restart() { *this = ClientLedger{}; }
};

struct Ledger {
    std::array<ClientLedger, kStations> clients;
    // The park list as last sent: the client posts it to every client when it
    // differs from the list before, else only to those that never had one.
    qsim::Bytes lastParkEntries;

    ClientLedger *of(int32_t station) {
        const int32_t i = station - kFirstStation;
        return i >= 0 && static_cast<size_t>(i) < kStations ? &clients[static_cast<size_t>(i)] : nullptr;
    }
    // Notes what one record the server sends to this host (`host`) or to
    // every host must bring.
    void take(const uint8_t *record, size_t length, uint32_t host);
};

}  // namespace qapi::soak
