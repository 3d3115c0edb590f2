// The waits between tries: 1, 2, 4 ... seconds, at most `most`.
#pragma once

#include <chrono>

namespace qcdr {

class Backoff {
public:
    explicit Backoff(std::chrono::seconds most) : most_(most) {}
    // The wait after one more failure.
    std::chrono::seconds failed() {
        if (failures_ < 30) ++failures_;
        const auto wait = std::chrono::seconds(int64_t{1} << (failures_ - 1));
        return wait < most_ ? wait : most_;
    }
    void succeeded() { failures_ = 0; }
    int failures() const { return failures_; }

private:
    std::chrono::seconds most_;
    int failures_ = 0;
};

}  // namespace qcdr
