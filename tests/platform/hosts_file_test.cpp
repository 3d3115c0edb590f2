// The hosts file as this host's address is looked up in it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/posix/hosts_file.h"

namespace qapi::plat {
namespace {

bool any(uint32_t, const void *) { return true; }
bool notLoopback(uint32_t address, const void *) { return address >> 24 != 127; }

class HostsFile : public ::testing::Test {
protected:
    void write(const std::string &text) {
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << text;
    }
    // The address the file gives `name`, or 0.
    uint32_t lookUp(const char *name, bool (*accept)(uint32_t, const void *) = any) const {
        uint32_t address = 0;
        return hostsFileAddress(path_.c_str(), name, accept, nullptr, &address) ? address : 0;
    }
    void TearDown() override { unlink(path_.c_str()); }

    std::string path_ = ::testing::TempDir() + "hosts-" + std::to_string(getpid());
};

TEST_F(HostsFile, NamesAndAliasesOfIpv4LinesAnswerInFileOrderPastCommentsAndTheAddressesRefused) {
    write("# 10.0.0.9 desk\n"
          "::1\tdesk ip6-localhost\n"
          "127.0.1.1 desk.example.org Desk   # the installer's line\n"
          "  10.1.2.3\tother\tDESK\r\n"
          "10.1.2.4 desk\n"
          "192.168.7.7 " + std::string(600, 'x') + " late\n"
          "172.16.0.1 last");
    EXPECT_EQ(lookUp("desk"), 0x7F000101u);
    EXPECT_EQ(lookUp("desk", notLoopback), 0x0A010203u);  // an alias, case and CR aside
    EXPECT_EQ(lookUp("desk.example.org"), 0x7F000101u);
    EXPECT_EQ(lookUp("last"), 0xAC100001u);  // no newline after the last line
    EXPECT_EQ(lookUp("late"), 0u);           // past what a line is read to
    EXPECT_EQ(lookUp("des"), 0u);
    EXPECT_EQ(lookUp("ip6-localhost"), 0u);  // IPv6 lines say nothing here
    EXPECT_EQ(lookUp(""), 0u);
}

TEST_F(HostsFile, AMissingFileGivesNothing) {
    EXPECT_EQ(lookUp("desk"), 0u);
}

}  // namespace
}  // namespace qapi::plat
