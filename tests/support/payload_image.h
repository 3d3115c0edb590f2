// A notification payload's full image: every byte an application can reach
// through it, by its notification code: a record's own bytes, and after them
// each text it points to, to its NUL; a text to its NUL; a line list's
// pointers and each line to its NUL (to the list's null).  Codes whose lParam
// is a value (keys, digits, heartbeats) have none.  An image kept from the
// moment of the post tells a later reader, on any thread, whether the
// payload is still intact.  No allocation.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qapi::test {

// The longest image (a line list of 32 lines of 127 characters).
inline constexpr size_t kLongestPayloadImage = 33 * sizeof(void *) + 32 * 128;

// Writes the image of the payload of `code` at `lParam` to `out` (at most
// `room` bytes) and returns its full size; 0 when the code has no payload.
size_t payloadImage(uintptr_t code, intptr_t lParam, uint8_t *out, size_t room);

// True when the payload still shows `image` (as payloadImage wrote it).  A
// record's own bytes are compared before any pointer among them is followed,
// so a payload written over is never read through its damaged pointers.
bool payloadShowsImage(uintptr_t code, intptr_t lParam, const uint8_t *image, size_t size);

}  // namespace qapi::test
