// The line of events: order, confirmations, a lost connection, the spool
// (a real file) when the memory's bound is reached or the broker is away,
// what a full spool loses, and a spool left by an earlier run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "bridge/delivery.h"

namespace qbridge {
namespace {

// The broker's side as far as the line sees it: what was published, in order.
class Recorder : public Publisher {
public:
    bool up = true;
    size_t space = SIZE_MAX;
    std::vector<Event> sent;
    bool ready() const override { return up; }
    size_t room() const override { return space; }
    size_t cost(const Event &e) const override { return e.body.size(); }
    bool publish(const Event &e) override {
        sent.push_back(e);
        return true;
    }
    std::vector<uint64_t> seqs() const {
        std::vector<uint64_t> out;
        for (const Event &e : sent) out.push_back(e.seq);
        return out;
    }
};

class DeliveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/qapi-bridge-delivery-XXXXXX";
        folder_ = mkdtemp(name);
        open();
    }
    void TearDown() override {
        line.reset();
        spool.reset();
        std::filesystem::remove_all(folder_);
    }
    void open(DeliveryLimits limits = {4, 8, 1 << 20}) {
        line.reset();
        spool.reset();
        spool = std::make_unique<qspool::Spool>(folder_ + "/events.spool");
        line = std::make_unique<Delivery>(*spool, limits);
    }
    void add(int n, bool connected = true) {
        for (int i = 0; i < n; ++i) line->add(maker.make("cdr", "7001", "record", "{}"), connected);
        line->flush();
    }
    // Publishes and confirms one by one until nothing waits.
    void deliverAll() {
        for (int rounds = 0; rounds < 1000 && !line->idle(); ++rounds) {
            const size_t before = broker.sent.size();
            line->pump(broker);
            for (size_t i = before; i < broker.sent.size(); ++i) line->confirmed(++tag_, false);
        }
        ASSERT_TRUE(line->idle());
    }
    void reconnect() { tag_ = 0; }

    std::string folder_;
    std::unique_ptr<qspool::Spool> spool;
    std::unique_ptr<Delivery> line;
    EventMaker maker{"hq", 1};
    Recorder broker;
    uint64_t tag_ = 0;
};

std::vector<uint64_t> range(uint64_t from, uint64_t to) {
    std::vector<uint64_t> out;
    for (uint64_t s = from; s <= to; ++s) out.push_back(s);
    return out;
}

TEST_F(DeliveryTest, EventsLeaveInOrderAndOnlyWhenConfirmed) {
    add(3);
    line->pump(broker);
    EXPECT_EQ(broker.seqs(), range(1, 3));
    line->confirmed(2, false);  // out of order: 1 still waits
    EXPECT_EQ(line->unconfirmed(), 3u);
    line->confirmed(1, false);
    EXPECT_EQ(line->unconfirmed(), 1u);
    line->confirmed(3, true);
    EXPECT_TRUE(line->idle());
    EXPECT_EQ(line->counts().confirmed, 3u);
    EXPECT_EQ(line->counts().spooled, 0u);
    EXPECT_TRUE(spool->empty());
}

TEST_F(DeliveryTest, AtMostTheWindowAndTheRoomArePublished) {
    add(6);
    const size_t one = broker.cost(EventMaker("hq", 1).make("cdr", "7001", "record", "{}"));
    broker.space = one + one / 2;
    line->pump(broker);
    EXPECT_EQ(broker.sent.size(), 1u);  // the room for one
    broker.space = SIZE_MAX;
    line->pump(broker);
    EXPECT_EQ(broker.seqs(), range(1, 4));
}

TEST_F(DeliveryTest, ALostConnectionSendsWhatWasNotConfirmedAgainFirstWithItsId) {
    add(5);
    line->pump(broker);
    line->confirmed(1, false);
    line->connectionLost();  // 2 to 4 were published, not confirmed; 5 waited
    EXPECT_TRUE(line->spooling());
    EXPECT_EQ(spool->waiting(), 4u);
    add(2, false);  // the broker is away: to the spool, after them
    EXPECT_EQ(line->firstUnsafe(1), 0u);
    const std::string idOf2 = broker.sent[1].messageId;
    broker.sent.clear();
    reconnect();
    deliverAll();
    EXPECT_EQ(broker.seqs(), range(2, 7));
    EXPECT_EQ(broker.sent[0].messageId, idOf2);
    EXPECT_EQ(line->counts().resent, 3u);
    add(1);  // the spool is empty: the line is in memory again
    EXPECT_FALSE(line->spooling());
}

TEST_F(DeliveryTest, AFullMemoryTakesItsPublishedEventsToTheSpoolAndNothingTwice) {
    add(8);
    line->pump(broker);  // 1 to 4 published
    add(2);              // past the bound of 8: the whole line goes to the spool
    EXPECT_TRUE(line->spooling());
    EXPECT_EQ(spool->waiting(), 10u);
    for (uint64_t t = 1; t <= 4; ++t) line->confirmed(t, false);
    tag_ = 4;
    deliverAll();
    EXPECT_EQ(broker.seqs(), range(1, 10));
    EXPECT_EQ(line->counts().confirmed, 10u);
}

TEST_F(DeliveryTest, WhatAFullSpoolCannotKeepIsLostAsAGapAndTheRestKeepsItsOrder) {
    const Event sample = maker.make("cdr", "7001", "record", "{}");
    const uint64_t each = qspool::Spool::framedBytes(encodeEvent(sample).size());
    open({4, 8, 1 << 20, 3 * each + each / 2});
    maker = EventMaker("hq", 2);
    add(6, false);
    EXPECT_EQ(line->counts().lost, 3u);
    ASSERT_EQ(line->gaps().size(), 1u);
    EXPECT_EQ(line->gaps()[0].from, 4u);
    EXPECT_EQ(line->gaps()[0].to, 6u);
    EXPECT_NE(line->takeNews().at(0).find("events lost: the spool is full"), std::string::npos);
    deliverAll();
    add(1);
    deliverAll();
    EXPECT_EQ(broker.seqs(), (std::vector<uint64_t>{1, 2, 3, 7}));
}

TEST_F(DeliveryTest, ASpoolLeftByAnEarlierRunIsSentFirst) {
    add(3, false);
    open();  // a new run on the same file
    EventMaker next("hq", 2);
    line->add(next.make("bridge", "hq", "status", "{}"), true);
    line->flush();
    deliverAll();
    ASSERT_EQ(broker.sent.size(), 4u);
    EXPECT_EQ(broker.sent[0].epoch, 1);
    EXPECT_EQ(broker.seqs(), (std::vector<uint64_t>{1, 2, 3, 1}));
    EXPECT_EQ(broker.sent[3].epoch, 2);
}

}  // namespace
}  // namespace qbridge
