// Hosts of a test's own on Linux: a peer network namespace joined to the
// test's by veth pairs (so that a default route or a second interface leads
// to a host that is itself private), and the files that name this host.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace qapi::test {

// Runs a command (ip ...) in the calling thread's network namespace.
bool run(const std::string &command);
// Waits (bounded) until `device` passes packets in the calling thread's
// network namespace: a veth end drops what is sent before the kernel has
// started its queue ("qdisc noop"), a moment after both ends are up.
bool linkActive(const std::string &device);

// A network namespace with its loopback up, held open by a descriptor.
class PeerHost {
public:
    PeerHost();
    ~PeerHost();
    PeerHost(const PeerHost &) = delete;
    PeerHost &operator=(const PeerHost &) = delete;

    ::testing::AssertionResult ready() const;
    // Runs `work` on a thread inside the namespace: sockets it creates and
    // commands it runs belong there.
    void inside(const std::function<void()> &work) const;
    // A veth pair from the calling thread's namespace: `near` here with
    // nearAddress/24, `far` there with farAddress/24, both up and active.
    bool link(const std::string &near, const std::string &nearAddress, const std::string &far,
              const std::string &farAddress) const;

private:
    int fd_ = -1;
};

// The calling thread in a mount and UTS namespace of its own, in which the
// host is called `hostName`, /etc/hosts holds `hosts` and, when given,
// /etc/resolv.conf holds `resolvConf`.  The destructor puts the thread back.
class HostFiles {
public:
    HostFiles(const std::string &hostName, const std::string &hosts, const std::string &resolvConf = "");
    ~HostFiles();
    HostFiles(const HostFiles &) = delete;
    HostFiles &operator=(const HostFiles &) = delete;

    ::testing::AssertionResult ready() const;
    void rewriteHosts(const std::string &hosts);

private:
    bool bind(const std::string &text, const char *over);

    int mountNs_ = -1, utsNs_ = -1;
    std::string failure_;
    std::string hostsFile_;
    std::vector<std::string> files_, mounted_;
};

}  // namespace qapi::test
