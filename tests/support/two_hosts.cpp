#include "support/two_hosts.h"

#include "support/netns.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace qapi::test {
namespace {

constexpr const char *kGroup = "224.3.3.3";
constexpr const char *kServerAddress = "10.77.0.2";
constexpr auto kWaitLimit = std::chrono::seconds(10);

}  // namespace

bool ServerHost::sh(const std::string &command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) == 0) return true;
    if (failure_.empty()) failure_ = "\"" + command + "\" failed";
    return false;
}

ServerHost::ServerHost(uint16_t port, Script script) : port_(port), script_(std::move(script)) {
    if (pipe(wakePipe_) != 0 || !sh("ip link add qtlib type veth peer name qtsrv")) {
        phase_ = Phase::failed;
        return;
    }
    thread_ = std::thread([this] { serve(); });
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return phase_ != Phase::starting; });
    if (phase_ != Phase::unshared) return;
    const std::string serverNs =
        "/proc/" + std::to_string(getpid()) + "/task/" + std::to_string(serverTid_) + "/ns/net";
    const bool linked = sh("ip link set qtsrv netns " + serverNs) &&
                        sh("ip addr add 10.77.0.1/24 dev qtlib") && sh("ip link set qtlib up") &&
                        sh("ip route replace 224.0.0.0/4 dev qtlib");
    phase_ = linked ? Phase::linked : Phase::failed;
    changed_.notify_all();
    changed_.wait(lock, [this] { return phase_ == Phase::ready || phase_ == Phase::failed; });
    if (phase_ == Phase::ready && !linkActive("qtlib")) {
        failure_ = "qtlib did not come up";
        phase_ = Phase::failed;
    }
    baseline_ = udpDatagramsSent();
}

ServerHost::~ServerHost() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        if (phase_ == Phase::unshared) phase_ = Phase::failed;
    }
    changed_.notify_all();
    wake();
    if (thread_.joinable()) thread_.join();
    if (socket_ >= 0) close(socket_);
    for (int fd : wakePipe_) {
        if (fd >= 0) close(fd);
    }
    // Deleting one end removes the pair; multicast goes back to loopback.
    sh("ip link del qtlib");
    sh("ip route replace 224.0.0.0/4 dev lo");
}

::testing::AssertionResult ServerHost::ready() const {
    if (phase_ == Phase::ready) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "the server host could not be set up (needs root and iproute2): " << failure_;
}

bool ServerHost::setUpServerSide() {
    if (!sh("ip link set lo up") || !sh("ip addr add 10.77.0.2/24 dev qtsrv") ||
        !sh("ip link set qtsrv up") || !sh("ip route add 224.0.0.0/4 dev qtsrv")) {
        return false;
    }
    if (!linkActive("qtsrv")) {
        failure_ = "qtsrv did not come up";
        return false;
    }
    failure_ = "the server socket could not be set up";
    socket_ = socket(AF_INET, SOCK_DGRAM, 0);
    if (socket_ < 0) return false;
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(port_);
    ip_mreq membership{};
    inet_pton(AF_INET, kGroup, &membership.imr_multiaddr);
    inet_pton(AF_INET, kServerAddress, &membership.imr_interface);
    const int off = 0;
    const bool ok = bind(socket_, reinterpret_cast<sockaddr *>(&any), sizeof any) == 0 &&
                    setsockopt(socket_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) == 0 &&
                    setsockopt(socket_, IPPROTO_IP, IP_MULTICAST_LOOP, &off, sizeof off) == 0;
    if (ok) failure_.clear();
    return ok;
}

void ServerHost::serve() {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (unshare(CLONE_NEWNET) != 0) {
            failure_ = "unshare: " + std::string(std::strerror(errno));
            phase_ = Phase::failed;
            changed_.notify_all();
            return;
        }
        serverTid_ = static_cast<int>(gettid());
        phase_ = Phase::unshared;
        changed_.notify_all();
        changed_.wait(lock, [this] { return phase_ != Phase::unshared; });
        if (phase_ == Phase::failed) return;
    }
    const bool ok = setUpServerSide();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        phase_ = ok ? Phase::ready : Phase::failed;
    }
    changed_.notify_all();
    if (!ok) return;

    for (;;) {
        pollfd fds[2] = {{socket_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        poll(fds, 2, -1);
        if (fds[1].revents & POLLIN) {
            char drop[16];
            (void)!read(wakePipe_[0], drop, sizeof drop);
        }
        std::unique_lock<std::mutex> lock(mutex_);
        if (stop_) return;
        if (fds[0].revents & POLLIN) {
            Datagram d(2048);
            const ssize_t n = recv(socket_, d.data(), d.size(), MSG_DONTWAIT);
            if (n > 0) {
                d.resize(static_cast<size_t>(n));
                for (const Datagram &record : script_(d))
                    answers_.insert(answers_.end(), record.begin(), record.end());
                log_.push_back(std::move(d));
                ++received_;
            }
        }
        if (flushWanted_) {
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(port_);
            inet_pton(AF_INET, kGroup, &to.sin_addr);
            sendto(socket_, answers_.data(), answers_.size(), 0, reinterpret_cast<sockaddr *>(&to),
                   sizeof to);
            answers_.clear();
            flushWanted_ = false;
        }
        changed_.notify_all();
    }
}

void ServerHost::wake() {
    const char one = 1;
    if (wakePipe_[1] >= 0) (void)!write(wakePipe_[1], &one, 1);
}

bool ServerHost::waitFor(const std::function<bool()> &done) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kWaitLimit, done);
}

std::vector<Datagram> ServerHost::settle() {
    const uint64_t sent = udpDatagramsSent() - baseline_;
    if (!waitFor([&] { return received_ >= sent; })) {
        ADD_FAILURE() << "the server received " << received_ << " of " << sent << " datagrams";
    }
    std::unique_lock<std::mutex> lock(mutex_);
    std::vector<Datagram> got = std::move(log_);
    log_.clear();
    if (!answers_.empty() && !flushAnswers(lock)) ADD_FAILURE() << "the server's answer did not arrive";
    return got;
}

void ServerHost::push(const std::vector<Datagram> &records) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (const Datagram &record : records) answers_.insert(answers_.end(), record.begin(), record.end());
    if (!flushAnswers(lock)) ADD_FAILURE() << "the pushed records did not arrive";
}

bool ServerHost::flushAnswers(std::unique_lock<std::mutex> &lock) {
    flushWanted_ = true;
    wake();
    if (!changed_.wait_for(lock, kWaitLimit, [this] { return !flushWanted_; })) return false;
    lock.unlock();
    const bool arrived = stationDatagramWaiting();
    lock.lock();
    return arrived;
}

}  // namespace qapi::test
