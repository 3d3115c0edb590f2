// A row as an entry of the spool, and back: a version byte, the occurrence,
// the time received, the feed's name, the key and the decoded record.
#pragma once

#include <string>
#include <string_view>

#include "cdr/row.h"

namespace qcdr {

std::string spoolEntry(const Row &row);
// False when the entry is no row.
bool spoolRow(std::string_view entry, Row &row);
// The bytes of the entry of a row from a feed whose name has `serverLength`
// bytes.
size_t spoolEntryBytes(size_t serverLength);

}  // namespace qcdr
