#include "support/netns.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

namespace qapi::test {

bool run(const std::string &command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

bool linkActive(const std::string &device) {
    const std::string command = "ip -o link show dev " + device + " 2>/dev/null";
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    do {
        char line[512] = {};
        if (FILE *p = popen(command.c_str(), "r")) {
            const bool got = fgets(line, sizeof line, p) != nullptr;
            pclose(p);
            if (got && std::strstr(line, " state UP ") && !std::strstr(line, " qdisc noop ")) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < limit);
    return false;
}

PeerHost::PeerHost() {
    std::thread([this] {
        if (unshare(CLONE_NEWNET) == 0) fd_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    }).join();
    if (fd_ >= 0) inside([] { run("ip link set lo up"); });
}

PeerHost::~PeerHost() {
    if (fd_ >= 0) close(fd_);  // the namespace and its ends of the veth pairs go with it
}

::testing::AssertionResult PeerHost::ready() const {
    if (fd_ >= 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no network namespace for the peer (needs root and iproute2)";
}

void PeerHost::inside(const std::function<void()> &work) const {
    std::thread([&] {
        if (setns(fd_, CLONE_NEWNET) == 0) work();
        else ADD_FAILURE() << "cannot enter the peer's namespace: " << std::strerror(errno);
    }).join();
}

bool PeerHost::link(const std::string &near, const std::string &nearAddress, const std::string &far,
                    const std::string &farAddress) const {
    const std::string there = "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd_);
    if (!run("ip link add " + near + " type veth peer name " + far) || !run("ip link set " + far + " netns " + there) ||
        !run("ip addr add " + nearAddress + "/24 dev " + near) || !run("ip link set " + near + " up"))
        return false;
    bool farUp = false;
    inside([&] {
        farUp = run("ip addr add " + farAddress + "/24 dev " + far) && run("ip link set " + far + " up") &&
                linkActive(far);
    });
    return farUp && linkActive(near);
}

HostFiles::HostFiles(const std::string &hostName, const std::string &hosts, const std::string &resolvConf) {
    mountNs_ = open("/proc/thread-self/ns/mnt", O_RDONLY | O_CLOEXEC);
    utsNs_ = open("/proc/thread-self/ns/uts", O_RDONLY | O_CLOEXEC);
    // Private from the start: no mount made here is seen outside the thread.
    if (mountNs_ < 0 || utsNs_ < 0 || unshare(CLONE_NEWNS | CLONE_NEWUTS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        failure_ = std::string("no mount namespace of its own: ") + std::strerror(errno);
        return;
    }
    if (sethostname(hostName.data(), hostName.size()) != 0) {
        failure_ = std::string("sethostname: ") + std::strerror(errno);
        return;
    }
    if (!bind(hosts, "/etc/hosts")) return;
    hostsFile_ = files_.back();
    if (!resolvConf.empty()) bind(resolvConf, "/etc/resolv.conf");
}

bool HostFiles::bind(const std::string &text, const char *over) {
    char path[] = "/tmp/qapi-host-file-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        failure_ = "mkstemp failed";
        return false;
    }
    files_.push_back(path);
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    if (!written || mount(path, over, nullptr, MS_BIND, nullptr) != 0) {
        failure_ = std::string("cannot bind a file over ") + over + ": " + std::strerror(errno);
        return false;
    }
    mounted_.push_back(over);
    return true;
}

void HostFiles::rewriteHosts(const std::string &hosts) {
    std::ofstream(hostsFile_, std::ios::trunc) << hosts;  // in place: the bound file stays the same
}

HostFiles::~HostFiles() {
    for (const std::string &over : mounted_) umount2(over.c_str(), MNT_DETACH);
    if (utsNs_ >= 0) {
        setns(utsNs_, CLONE_NEWUTS);
        close(utsNs_);
    }
    // Refused while a thread started in here lives on; the mounts are gone.
    if (mountNs_ >= 0) {
        setns(mountNs_, CLONE_NEWNS);
        close(mountNs_);
    }
    for (const std::string &file : files_) unlink(file.c_str());
}

::testing::AssertionResult HostFiles::ready() const {
    if (failure_.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << failure_;
}

}  // namespace qapi::test
