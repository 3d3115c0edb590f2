#include "support/payload_image.h"

#include <cstring>

#include "qapi.h"

namespace qapi::test {
namespace {

constexpr size_t kTextBlock = 128;  // every text of a payload lies in a block this long

// Takes an image (into `out`, at most `room` bytes) or compares the payload
// with one (`expected`, `room` bytes long); a comparison stops at the first
// difference.
class Image {
public:
    Image(uint8_t *out, const uint8_t *expected, size_t room) : out_(out), expected_(expected), room_(room) {}

    // False once the payload differs from the expected image.
    bool bytes(const void *from, size_t n) {
        if (expected_) {
            same_ = same_ && n <= room_ - size_ && std::memcmp(expected_ + size_, from, n) == 0;
        } else if (size_ < room_) {
            std::memcpy(out_ + size_, from, n < room_ - size_ ? n : room_ - size_);
        }
        size_ += n;
        return same_;
    }
    // The record at lParam once its bytes are taken (or found unchanged), else null.
    template <class T>
    const T *record(intptr_t lParam) {
        const auto *r = reinterpret_cast<const T *>(lParam);
        return bytes(r, sizeof *r) ? r : nullptr;
    }
    // A text to its NUL (the NUL included), within its block; null adds nothing.
    void text(const char *t) {
        if (!t) return;
        const size_t n = strnlen(t, kTextBlock);
        bytes(t, n < kTextBlock ? n + 1 : n);
    }
    size_t size() const { return size_; }
    bool same() const { return same_ && size_ == room_; }

private:
    uint8_t *out_;
    const uint8_t *expected_;
    size_t room_;
    size_t size_ = 0;
    bool same_ = true;
};

void visit(uintptr_t code, intptr_t lParam, Image &image) {
    if (lParam == 0) return;
    switch (code) {
    case QAPI_NOTIFY_SNAPSHOT:
        if (const auto *s = image.record<QapiStatusSnapshot>(lParam)) image.text(s->statusText);
        break;
    case QAPI_NOTIFY_NUMBER:
    case QAPI_NOTIFY_TEXT:
        image.text(reinterpret_cast<const char *>(lParam));
        break;
    case QAPI_NOTIFY_EXTENSION:
        image.record<QapiExtensionStatus>(lParam);
        break;
    case QAPI_NOTIFY_CALL_LIST:
    case QAPI_NOTIFY_PARK_LIST:
        if (const auto *list = image.record<QapiLineList>(lParam)) {
            for (size_t i = 0; i < QAPI_LINE_LIST_SLOTS && list->lines[i]; ++i) image.text(list->lines[i]);
        }
        break;
    case QAPI_NOTIFY_CMDR_STATUS:
    case QAPI_NOTIFY_ADJUNCT_STATUS:
        if (const auto *s = image.record<QapiStatusPayload>(lParam)) image.text(s->statusText);
        break;
    case QAPI_NOTIFY_CMDR_RECORD:
        image.record<QapiCmdrRecordPayload>(lParam);
        break;
    case QAPI_NOTIFY_ROUTE_REQUEST:
        image.record<QapiRouteRequestPayload>(lParam);
        break;
    default:  // a value, not a payload
        break;
    }
}

}  // namespace

size_t payloadImage(uintptr_t code, intptr_t lParam, uint8_t *out, size_t room) {
    Image image(out, nullptr, room);
    visit(code, lParam, image);
    return image.size();
}

bool payloadShowsImage(uintptr_t code, intptr_t lParam, const uint8_t *image, size_t size) {
    Image compare(nullptr, image, size);
    visit(code, lParam, compare);
    return compare.same();
}

}  // namespace qapi::test
