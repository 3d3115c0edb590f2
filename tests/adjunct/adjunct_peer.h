// The call server's side of an adjunct link, played by the test's own UDP
// socket on 127.0.0.1, and a fixture that opens one link to it.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "adjunct/link.h"
#include "qapi.h"
#include "support/test_support.h"

namespace qapi::test {

using Bytes = std::vector<uint8_t>;

inline const Bytes kKeepAlive{0x00, 0x01, 0x00, 0x00};
inline const Bytes kKeepAliveReply{0x00, 0x81, 0x00, 0x00};

inline void putU32(Bytes &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A route request of 84 bytes: a 4-byte header (0, type 0x41, the length
// after it), then the fields below in this order; digit fields of 0xFF
// unless given.
struct RouteRequest {
    uint32_t id = 0;
    uint32_t dateTime = 0;
    int32_t numberA = 0;
    int32_t numberB = 0;
    Bytes digitsB = {};  // 32 codes
    Bytes digitsA = {};  // 32 codes
};
inline Bytes routeRequest(const RouteRequest &r) {
    Bytes b(84, 0xFF);
    b[0] = 0x00;
    b[1] = 0x41;
    b[2] = 80;
    b[3] = 0;
    putU32(b, 4, r.dateTime);
    putU32(b, 8, static_cast<uint32_t>(r.numberA));
    putU32(b, 12, static_cast<uint32_t>(r.numberB));
    putU32(b, 16, r.id);
    std::copy(r.digitsB.begin(), r.digitsB.end(), b.begin() + 20);
    std::copy(r.digitsA.begin(), r.digitsA.end(), b.begin() + 52);
    return b;
}

// What the library posted to the test's window.
struct Posted {
    std::vector<QapiStatusPayload> status;
    std::vector<QapiRouteRequestPayload> requests;
    size_t others = 0;
};

class AdjunctTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        drainMessages();
    }

    AdjunctLink *startLink() {
        auto *link = static_cast<AdjunctLink *>(QAPI_Adjunct_start(window, "127.0.0.1", server.port));
        if (link) {
            linkAddress = {};
            socklen_t len = sizeof linkAddress;
            getsockname(link->endpoint.socket, reinterpret_cast<sockaddr *>(&linkAddress), &len);
        }
        return link;
    }

    // Sends `bytes` to the link and runs one tick once they have arrived.
    void deliver(const AdjunctLink &link, const Bytes &bytes) {
        ASSERT_EQ(sendto(server.fd, bytes.data(), bytes.size(), 0,
                         reinterpret_cast<const sockaddr *>(&linkAddress), sizeof linkAddress),
                  static_cast<ssize_t>(bytes.size()));
        ASSERT_TRUE(waitReadable(link.endpoint.socket, 2000));
        runTicks(1);
    }

    // The next datagram from the link, or nothing.  A datagram the library
    // has sent is already queued here (loopback); the wait only bounds a
    // slow delivery.
    std::optional<Bytes> received(int waitMs = 0) {
        if (!waitReadable(server.fd, waitMs)) return std::nullopt;
        Bytes b(2048);
        const ssize_t n = recv(server.fd, b.data(), b.size(), 0);
        b.resize(n < 0 ? 0 : static_cast<size_t>(n));
        return b;
    }
    Bytes expectSent() {
        auto got = received(2000);
        EXPECT_TRUE(got.has_value()) << "the link sent nothing";
        return got.value_or(Bytes{});
    }

    Posted posted() {
        Posted out;
        for (const QMessage &m : drainMessages()) {
            if (m.window != window || m.message != QAPI_NOTIFY_MSG) {
                ++out.others;
            } else if (m.wParam == QAPI_NOTIFY_ADJUNCT_STATUS) {
                out.status.push_back(*reinterpret_cast<const QapiStatusPayload *>(m.lParam));
            } else if (m.wParam == QAPI_NOTIFY_ROUTE_REQUEST) {
                out.requests.push_back(*reinterpret_cast<const QapiRouteRequestPayload *>(m.lParam));
            } else {
                ++out.others;
            }
        }
        return out;
    }

    TestSocket server{SOCK_DGRAM};
    sockaddr_storage linkAddress{};
};

}  // namespace qapi::test
