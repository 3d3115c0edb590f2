// Faults on a datagram path: losses, copies, holding back and overtaking,
// each as the settings and the seed say.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "sim/faults.h"

namespace qsim {
namespace {

struct Path {
    std::vector<uint8_t> got;  // the first byte of each datagram delivered
    FaultyPath path{"in", [this](const FaultyPath::Datagram &d) { got.push_back(d.bytes.at(0)); }, 7};

    void pass(uint8_t n, int times = 1) {
        for (int i = 0; i < times; ++i) path.pass({Bytes{n}, 0}, "datagram " + std::to_string(n));
    }
};

TEST(SimFaults, LossAndDuplicationFollowTheirShares) {
    Path all;
    all.path.configure({.lossPercent = 100});
    all.pass(1, 50);
    EXPECT_TRUE(all.got.empty());
    all.path.configure({.duplicatePercent = 100});
    all.pass(2);
    EXPECT_EQ(all.got, (std::vector<uint8_t>{2, 2}));
    Path some;
    some.path.configure({.lossPercent = 30});
    some.pass(3, 1000);
    EXPECT_GT(some.got.size(), 600u);
    EXPECT_LT(some.got.size(), 800u);
    EXPECT_EQ(some.path.summary().rfind("in: 1000 datagrams, ", 0), 0u) << some.path.summary();
}

TEST(SimFaults, HeldDatagramsGoWhenDueAndOvertakersGoAtOnce) {
    Path p;
    p.path.configure({.delayMs = 30});
    p.pass(1);
    EXPECT_TRUE(p.got.empty());
    EXPECT_GT(p.path.msUntilDue(), 0);
    p.path.configure({.reorderPercent = 100, .delayMs = 30});
    p.pass(2);
    EXPECT_EQ(p.got, (std::vector<uint8_t>{2})) << "past the one held back";
    std::this_thread::sleep_for(std::chrono::milliseconds(p.path.msUntilDue() + 1));
    p.path.release();
    EXPECT_EQ(p.got, (std::vector<uint8_t>{2, 1}));
    EXPECT_EQ(p.path.msUntilDue(), -1);
}

}  // namespace
}  // namespace qsim
