// Helpers shared by the suites: the manual clock, message draining, and the
// guard that keeps multicast inside the private namespace the test runs in.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "qapi.h"
#include "support/messages.h"
#include "support/sockets.h"

namespace qapi::test {

// Succeeds only when the process sits in a network namespace whose only
// interfaces are loopback and interfaces whose names start with "qt" (the
// veth pairs that tests create themselves).
::testing::AssertionResult isolatedNetwork();

// A file of the Linux host by its Linux path (under Wine, the Z: drive is the
// host's root).
std::string hostFile(const char *path);

// Advances the manual clock by `ticks` periods of 100 ms.
inline void runTicks(uint32_t ticks) { qmsgAdvanceClock(ticks * 100); }

// Every message waiting on the calling thread, oldest first.
std::vector<QMessage> drainMessages();
// Posts to `window` until its queue refuses a message; false when it took
// 100,000 without refusing.
bool fillQueue(QWindow window);

// A UDP socket of the test's own, bound to 127.0.0.1 or ::1 on an ephemeral
// port; closed by the destructor.
struct TestSocket {
    plat::SocketHandle fd = plat::kNoSocket;
    uint16_t port = 0;
    explicit TestSocket(int type, bool ipv6 = false);
    ~TestSocket();
    TestSocket(const TestSocket &) = delete;
    TestSocket &operator=(const TestSocket &) = delete;
};

// A multicast sender into the group the station endpoint joins (loop-back on,
// so that receivers in this namespace see it).
struct GroupSender {
    plat::SocketHandle fd = plat::kNoSocket;
    uint16_t port;
    explicit GroupSender(uint16_t port);
    ~GroupSender();
    void send(const std::vector<uint8_t> &bytes) const;
};

// A station record as the server frames it: the header, then the body
// padded to whole words; the length byte follows from the body.
struct StationRecordFields {
    uint32_t destination = 0;
    uint8_t type = 0;
    uint8_t sub = 0;
    uint8_t extra = 0;
    std::vector<uint8_t> body = {};
};
std::vector<uint8_t> stationRecord(StationRecordFields fields);

// The manual clock, on for the whole test.
class ManualClockTest : public ::testing::Test {
protected:
    void SetUp() override { qmsgUseManualClock(1); }
    void TearDown() override { qmsgUseManualClock(0); }
};

// The manual clock and an initialised library, with a window of the test's
// for the notifications; released, and the queue emptied, afterwards.
class WindowTest : public ManualClockTest {
protected:
    void SetUp() override {
        ManualClockTest::SetUp();
        ASSERT_EQ(QAPI_Stack_initialize(4100), 0);
        window = qmsgCreateWindow();
    }
    void TearDown() override {
        QAPI_Stack_release();
        qmsgDestroyWindow(window);
        drainMessages();
        ManualClockTest::TearDown();
    }
    QWindow window = 0;
};

}  // namespace qapi::test
