// Dial texts and dial codes through every conversion: a text from the input
// (in a block of exactly its size and its NUL) is packed into codes, read
// back, parsed as a decimal and written into a code buffer; codes from the
// input become texts, plain and blank-ended, and an inbound number.  Each
// result is compared with what the conversion promises, worked out here
// character by character.
#include <cctype>
#include <cstring>

#include "dial/dial_codes.h"
#include "script.h"

namespace qapi::fuzz {
namespace {

constexpr char kDialChars[] = "0123456789ABCD*#";

// The code of a character, worked out from the dial characters; 0xFF for none.
uint8_t expectedCode(char c) {
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const char *at = c == '\0' || (c >= 'a' && c <= 'z' && !std::strchr("abcd", c))
                         ? nullptr
                         : std::strchr(kDialChars, upper);
    return at ? static_cast<uint8_t>(at - kDialChars) : kNoDialCode;
}

void textConversions(const char *text) {
    const size_t length = std::strlen(text);
    size_t leading = 0;  // dial characters before the first other one, at most 32
    while (leading < length && leading < kDialBufferSize && expectedCode(text[leading]) != kNoDialCode)
        ++leading;
    for (size_t i = 0; i < length; ++i) require(dialCodeOf(text[i]) == expectedCode(text[i]), "dialCodeOf");

    uint8_t codes[kDialBufferSize];
    packDialCodes(text, codes);
    for (size_t i = 0; i < kDialBufferSize; ++i)
        require(codes[i] == (i < leading ? expectedCode(text[i]) : kNoDialCode), "packDialCodes");
    char back[kDialBufferSize + 1];
    require(dialCodesToText(codes, back) == leading, "dialCodesToText length");
    for (size_t i = 0; i < leading; ++i)
        require(back[i] == std::toupper(static_cast<unsigned char>(text[i])), "dialCodesToText");

    uint32_t decimal = 0;
    for (size_t i = 0; i < 8 && i < length && text[i] >= '0' && text[i] <= '9'; ++i)
        decimal = decimal * 10 + static_cast<uint32_t>(text[i] - '0');
    require(parseLeadingDecimal(text) == decimal, "parseLeadingDecimal");

    // Every character, dial or not, into a buffer that starts part full.
    uint8_t buffer[kDialBufferSize];
    std::memset(buffer, kNoDialCode, sizeof buffer);
    const size_t full = length % (kDialBufferSize + 1);
    for (size_t i = 0; i < full; ++i) buffer[i] = static_cast<uint8_t>(i % 16);
    for (size_t i = 0; i < length; ++i) fillFirstFree(buffer, dialCodeOf(text[i]), kNoDialCode);
    for (size_t i = full; i < kDialBufferSize; ++i) {
        // A code of 0xFF leaves its place free for the next one.
        size_t k = i - full, j = 0;
        while (j < length && (dialCodeOf(text[j]) == kNoDialCode || k-- != 0)) ++j;
        require(buffer[i] == (j < length ? dialCodeOf(text[j]) : kNoDialCode), "fillFirstFree");
    }
}

void codeConversions(const Bytes &input) {
    uint8_t codes[kDialBufferSize];
    std::memset(codes, 0, sizeof codes);
    std::copy(input.begin(), input.end(), codes);
    for (uint8_t c : codes) {
        const char expected = c <= 15 ? kDialChars[c] : static_cast<char>(0xFF);
        require(dialCharOf(c) == expected, "dialCharOf");
        require(dialCharOrBlank(c) == (c <= 15 ? expected : ' '), "dialCharOrBlank");
    }
    size_t valid = 0;
    while (valid < kDialBufferSize && codes[valid] <= 15) ++valid;

    char text[kDialBufferSize + 1];
    require(dialCodesToText(codes, text) == valid && text[valid] == '\0', "dialCodesToText");
    // Heap blocks of every size from 0 to 33 bytes, made once.
    static std::vector<Bytes> blocks(kDialBufferSize + 2);
    for (size_t count = 0; count < blocks.size(); ++count) blocks[count].resize(count);
    for (size_t count = 0; count <= kDialBufferSize; ++count) {
        uint8_t *source = blocks[count].data();
        std::copy(codes, codes + count, source);
        char *out = reinterpret_cast<char *>(blocks[count + 1].data());  // count + 1 bytes, as promised
        const size_t n = dialCodesToBlankEnded(source, count, out);
        require(n == (valid < count ? valid : count) && out[n] == '\0', "dialCodesToBlankEnded");
        require(std::memcmp(out, text, n) == 0, "dialCodesToBlankEnded text");
    }

    uint8_t *number = blocks[kNumberCodes].data();
    std::copy(codes, codes + kNumberCodes, number);
    uint8_t unpacked[kDialBufferSize];
    unpackNumberCodes(number, unpacked);
    require(std::memcmp(unpacked, codes, kNumberCodes) == 0, "unpackNumberCodes codes");
    for (size_t i = kNumberCodes; i < kDialBufferSize; ++i)
        require(unpacked[i] == kNoDialCode, "unpack tail");
}

}  // namespace
}  // namespace qapi::fuzz

using namespace qapi::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Script s(data, size);
    while (!s.done()) {
        if (s.byte() & 1) {
            codeConversions(s.bytes(s.byte() % (qapi::kDialBufferSize + 1)));
        } else {
            const Text text(s, 80);
            if (text.get()) textConversions(text.get());
        }
    }
    return 0;
}
