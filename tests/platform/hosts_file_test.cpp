// The hosts file as this host's address is looked up in it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/posix/hosts_file.h"

namespace qapi::plat {
namespace {

class HostsFileTest : public ::testing::Test {
protected:
    void write(const std::string &text) { std::ofstream(path_, std::ios::binary | std::ios::trunc) << text; }
    // The addresses the file gives `name`, read whole.
    std::vector<uint32_t> lookUp(const char *name) {
        NamedAddresses named{};
        EXPECT_EQ(file_.addressesOf(name, SIZE_MAX, named), HostsReading::Done);
        return {named.list, named.list + named.count};
    }
    // Calls with `slice` bytes each until the reading is done: how many.
    int callsToRead(const char *name, size_t slice, std::vector<uint32_t> &addresses) {
        NamedAddresses named{};
        int calls = 1;
        for (; file_.addressesOf(name, slice, named) == HostsReading::Pending && calls < 100000; ++calls) {}
        addresses.assign(named.list, named.list + named.count);
        return calls;
    }
    void TearDown() override { unlink(path_.c_str()); }

    std::string path_ = ::testing::TempDir() + "hosts-" + std::to_string(getpid());
    HostsFile file_{path_.c_str()};
};

TEST_F(HostsFileTest, NamesAndAliasesOfIpv4LinesAnswerInFileOrderPastComments) {
    const std::string longLine = "192.168.7.7 " + std::string(600, 'x') + " late\n";
    write(
        "# 10.0.0.9 desk\n"
        "::1\tdesk ip6-localhost\n"
        "127.0.1.1 desk.example.org Desk   # the installer's line\n"
        "  10.1.2.3\tother\tDESK\r\n"
        "10.1.2.4 desk\n"
        "10.1.2.3 desk\n" +
        longLine + "172.16.0.1 last");
    // Each address once, aliases, case and CR aside.
    EXPECT_EQ(lookUp("desk"), (std::vector<uint32_t>{0x7F000101u, 0x0A010203u, 0x0A010204u}));
    EXPECT_EQ(lookUp("desk.example.org"), std::vector<uint32_t>{0x7F000101u});
    EXPECT_EQ(lookUp("last"), std::vector<uint32_t>{0xAC100001u});  // no newline after the last line
    EXPECT_TRUE(lookUp("late").empty());                            // past what a line is read to
    EXPECT_TRUE(lookUp("des").empty());
    EXPECT_TRUE(lookUp("ip6-localhost").empty());  // IPv6 lines say nothing here
    EXPECT_TRUE(lookUp("").empty());
}

TEST_F(HostsFileTest, AMissingFileGivesNothing) { EXPECT_TRUE(lookUp("desk").empty()); }

// A long file goes a slice per call, lines cut between slices included; once
// read, it is not read again until it changes, and a change while it is being
// read begins the reading again.
TEST_F(HostsFileTest, ALongFileIsReadInSlicesAndAgainOnlyWhenItChanges) {
    std::string text = "127.0.1.1 desk\n";
    for (int i = 0; i < 20000; ++i) text += "0.0.0.0 ads-" + std::to_string(i) + ".example.net\n";
    write(text + "10.1.2.3 desk\n");
    constexpr size_t kSlice = 4099;  // cuts lines anywhere
    std::vector<uint32_t> addresses;
    const int calls = callsToRead("desk", kSlice, addresses);
    EXPECT_EQ(static_cast<size_t>(calls), (text.size() + 14) / kSlice + 1);
    EXPECT_EQ(addresses, (std::vector<uint32_t>{0x7F000101u, 0x0A010203u}));

    // Unchanged: answered without reading a byte.
    EXPECT_EQ(callsToRead("desk", 0, addresses), 1);
    EXPECT_EQ(addresses.size(), 2u);

    // Rewritten half-way through a reading: the new file counts.
    write(text + "10.1.2.44 desk\n");
    NamedAddresses named{};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(file_.addressesOf("desk", kSlice, named), HostsReading::Pending);
    write(text + "10.1.2.5 desk\n");
    EXPECT_EQ(callsToRead("desk", kSlice, addresses), calls);
    EXPECT_EQ(addresses, (std::vector<uint32_t>{0x7F000101u, 0x0A010205u}));
    // Another name is another reading.
    EXPECT_EQ(callsToRead("ads-7.example.net", kSlice, addresses), calls);
    EXPECT_EQ(addresses, std::vector<uint32_t>{0});
}

}  // namespace
}  // namespace qapi::plat
