// A second host for the station protocol, which needs the library's UDP port
// on the far side: a server thread in a network namespace of its own, joined
// to the test's namespace by a veth pair (qtlib here with 10.77.0.1, qtsrv
// there with 10.77.0.2) that carries the station multicast on both sides.
//
// The server thread holds a UDP socket on the station port, joined to the
// station group.  It hands every datagram it receives to the script and keeps
// the records the script answers with until the test settles.  Create the
// host before the first station client opens the station endpoint, so that
// the endpoint joins the group over the veth.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/station_tap.h"

namespace qapi::test {

class ServerHost {
public:
    // Runs on the server thread: the records (each a whole station record)
    // with which the server answers a datagram it received.
    using Script = std::function<std::vector<Datagram>(const Datagram &received)>;

    ServerHost(uint16_t port, Script script);
    ~ServerHost();
    ServerHost(const ServerHost &) = delete;
    ServerHost &operator=(const ServerHost &) = delete;

    ::testing::AssertionResult ready() const;

    // Waits until the server has received every datagram this namespace sent
    // so far, sends its answers (all records in one datagram) and waits until
    // that datagram waits at the library's station endpoint, so that the next
    // tick reads it.  Returns the datagrams received since the last settle.
    std::vector<Datagram> settle();
    // Sends `records` to the library now, in one datagram, and waits as above.
    void push(const std::vector<Datagram> &records);

private:
    enum class Phase { starting, unshared, linked, ready, failed };
    bool sh(const std::string &command);  // runs an ip command; notes the first failure
    void serve();
    bool setUpServerSide();
    void wake();
    bool waitFor(const std::function<bool()> &done);
    bool flushAnswers(std::unique_lock<std::mutex> &lock);

    const uint16_t port_;
    Script script_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    Phase phase_ = Phase::starting;
    int serverTid_ = 0;
    int socket_ = -1;
    int wakePipe_[2] = {-1, -1};
    bool stop_ = false;
    bool flushWanted_ = false;
    uint64_t baseline_ = 0;      // datagrams this namespace sent before the server existed
    uint64_t received_ = 0;      // datagrams the server received
    std::vector<Datagram> log_;  // received since the last settle
    std::vector<uint8_t> answers_;
    std::string failure_;
};

}  // namespace qapi::test
