// The whole decimal number of a command-line option, within its range, for
// the programs that come with the library (the simulator and the console).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qtools {

// Throws std::invalid_argument naming the option when `text` is not a whole
// decimal number from `least` to `most`.
inline int64_t optionNumber(const std::string &option, const std::string &text, int64_t least, int64_t most) {
    size_t used = 0;
    long long v = 0;
    try {
        v = std::stoll(text, &used, 10);
    } catch (const std::exception &) {
        used = 0;
    }
    if (text.empty() || used != text.size() || v < least || v > most) {
        throw std::invalid_argument(option + " wants a number from " + std::to_string(least) + " to " +
                                    std::to_string(most) + ", not \"" + text + "\"");
    }
    return v;
}

}  // namespace qtools
