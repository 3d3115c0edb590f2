// A call record's key: what tells one record from another when a record
// carries no identifier of its own.  The same record sent again by the same
// server gets the same key.
#pragma once

#include <array>
#include <cstdint>

#include "qapi.h"

namespace qrecords {

// The first 16 bytes of the SHA-256 of the record's fields and its server.
using RecordKey = std::array<uint8_t, 16>;

// The key of a record that the server on `port` sent: every field of the
// record (serverAddressText, the server's address, among them) and the port.
RecordKey recordKey(const QapiCmdrRecordPayload &record, uint16_t port);

}  // namespace qrecords
