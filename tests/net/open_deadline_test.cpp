// Starts that connect or resolve hold the application's thread three
// seconds at most: against a server whose connection queue is full, and
// (on Linux) for a name whose name server never answers.
#include <gtest/gtest.h>

#include <chrono>

#include "net/endpoint.h"
#include "qapi.h"
#include "support/test_support.h"
#if !defined(_WIN32)
#include <filesystem>

#include "support/netns.h"
#endif

namespace qapi {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kDeadline = std::chrono::milliseconds(kOpenDeadlineMs);
constexpr auto kSlack = std::chrono::milliseconds(1500);  // a loaded machine's delay, at most

class OpenDeadline : public test::WindowTest {
protected:
    // Runs the start and checks that it gave up, after the deadline and not
    // much later.
    template <typename Start>
    void expectGivenUp(Start start) {
        const auto began = Clock::now();
        EXPECT_EQ(start(), nullptr);
        const auto held = Clock::now() - began;
        EXPECT_GE(held, kDeadline - std::chrono::milliseconds(100));
        EXPECT_LE(held, kDeadline + kSlack);
    }
};

TEST_F(OpenDeadline, AFeedToAServerThatNeverAcceptsGivesUpAfterThreeSeconds) {
    // Backlog 0, and one connection already waiting in it: the kernel
    // drops every further connection request unanswered.
    const plat::SocketHandle listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&at), sizeof at), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr *>(&at), &length), 0);
    const plat::SocketHandle waiting = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(waiting, reinterpret_cast<sockaddr *>(&at), sizeof at), 0);

    expectGivenUp([&] { return QAPI_Cmdr_start(window, "127.0.0.1", ntohs(at.sin_port)); });
    test::closeSocket(waiting);
    test::closeSocket(listener);
}

#if !defined(_WIN32)
size_t threadsNow() {
    size_t threads = 0;
    for ([[maybe_unused]] const auto &t : std::filesystem::directory_iterator("/proc/self/task")) ++threads;
    return threads;
}
// The threads the process had before any test ran (an emulator's own
// among them).
const size_t gThreadsAtStart = threadsNow();

// True once the lookup threads of earlier tests have ended (a second after
// their last lookup): such a thread reads the name server's address from
// the files where the earlier test left them.
bool noLookupThreadsLeft() {
    const auto limit = Clock::now() + std::chrono::seconds(5);
    while (threadsNow() > gThreadsAtStart) {
        if (Clock::now() > limit) return false;
        test::pause(std::chrono::milliseconds(50));
    }
    return true;
}

TEST_F(OpenDeadline, ALinkToANameWhoseNameServerIsSilentGivesUpAfterThreeSeconds) {
    ASSERT_TRUE(test::isolatedNetwork());
    ASSERT_TRUE(noLookupThreadsLeft());
    // The name server: a socket that reads nothing and answers nothing.
    const plat::SocketHandle server = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(53);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr *>(&at), sizeof at), 0);
    test::HostFiles files("qapi-desktop", "127.0.0.1 localhost\n", "nameserver 127.0.0.1\n");
    ASSERT_TRUE(files.ready());

    expectGivenUp([&] { return QAPI_Adjunct_start(window, "routes.example", 7002); });
    EXPECT_TRUE(test::waitReadable(server, 0)) << "the lookup never asked the name server";
    test::closeSocket(server);
}
#endif

}  // namespace
}  // namespace qapi
