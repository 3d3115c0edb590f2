// qapi-cdr export: the stored records as CSV with the console's columns.
#pragma once

#include <string>

#include "cdr/store.h"

namespace qcdr {

// Writes the header and one row per record of the period, in the order
// stored, to `path` ("-": standard output); returns the number of records.
// Throws std::runtime_error (StoreError for the store).
size_t exportCsv(Store &store, const Period &period, const std::string &path);

}  // namespace qcdr
