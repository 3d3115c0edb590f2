// The hosts file, read the way the resolver's "files" source reads it, but
// never handing on to a name server: a line is an address and the names
// that stand for it, '#' starts a comment.
#pragma once

#include <cstdint>

namespace qapi::plat {

// The first IPv4 address (host order) that the file at `path` gives `name`
// (compared without regard to case) for which `accept(address, context)` is
// true.  False when there is none, or the file cannot be read.
bool hostsFileAddress(const char *path, const char *name, bool (*accept)(uint32_t address, const void *context),
                      const void *context, uint32_t *address);

}  // namespace qapi::plat
