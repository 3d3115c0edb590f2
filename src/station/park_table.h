// The park table: the list of up to 32 parked calls that the server
// broadcasts to every station, kept once for the process, shown to every
// station client as text lines (QAPI_NOTIFY_PARK_LIST) when it changes and
// to each client at least once, and looked up by QAPI_Client_resume.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qapi {

inline constexpr size_t kParkEntries = 32;

// One parked call: three words exactly as received; a free entry is all
// 0xFF bytes, so its key is -1.
struct ParkEntry {
    int32_t key;         // what QAPI_Client_resume looks up and sends
    int32_t secondWord;  // shown after the key
    uint32_t thirdWord;  // takes part only in the change comparison
};

// The list as last received, and as it stood at its last change.
struct ParkTables {
    ParkEntry current[kParkEntries];
    ParkEntry previous[kParkEntries];
};

ParkTables &stationParkTables();

// Empties both tables (every byte 0xFF); done by QAPI_Stack_initialize.
void stationResetParkTables();

// A broadcast park list of `length` bytes, once per record whatever the
// clients' states: replaces the table and posts the list to every live
// client when it changed, and to each client that never had one.
void stationOnParkList(const uint8_t *record, size_t length);

}  // namespace qapi
