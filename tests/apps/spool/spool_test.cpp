// The spool on the disk: order across a reopen, consumed entries' space given
// back, damaged bytes that cost only the entries they hit, the first framing
// still read, the bound, the lock.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "spool/framing.h"
#include "spool/spool.h"

namespace qspool {
namespace {

namespace fs = std::filesystem;

class SpoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/qapi-spool-unit-XXXXXX";
        ASSERT_TRUE(mkdtemp(name));
        dir = name;
        file = (dir / "s").string();
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string contents(const std::string &path) const {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void overwrite(const std::string &bytes) const {
        std::ofstream(file, std::ios::binary | std::ios::trunc)
            .write(bytes.data(), std::streamsize(bytes.size()));
    }
    fs::path dir;
    std::string file;
};

// Entries of different lengths, each telling its number.
std::vector<std::string> entries(int first, int n) {
    std::vector<std::string> out;
    for (int i = first; i < first + n; ++i)
        out.push_back("entry " + std::to_string(i) + std::string(i % 50, 'Q'));
    return out;
}

uint64_t blocksOf(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? uint64_t(st.st_blocks) * 512 : 0;
}

TEST_F(SpoolTest, EntriesComeBackInOrderUntilConsumedAndConsumedOnesGiveTheirSpaceBack) {
    const std::vector<std::string> big(4, std::string(64 * 1024, 'b'));
    {
        Spool spool(file);
        ASSERT_EQ(spool.append(entries(0, 3)), Spool::Append::done);
        ASSERT_EQ(spool.append(entries(3, 2)), Spool::Append::done);
        EXPECT_EQ(spool.front(4), entries(0, 4));
        spool.consume(2);
        EXPECT_EQ(spool.waiting(), 3u);
        EXPECT_EQ(spool.front(10), entries(2, 3));
        ASSERT_EQ(spool.append(big), Spool::Append::done);
        const uint64_t held = blocksOf(file);
        EXPECT_EQ(spool.front(5).back(), big[0]);
        spool.consume(5);  // three small ones and two big ones
        EXPECT_LE(blocksOf(file), held - 2 * big[0].size() + 8192);
    }
    Spool again(file);  // what was consumed is not read again
    ASSERT_EQ(again.waiting(), 2u);
    EXPECT_EQ(again.front(10), std::vector<std::string>(big.begin() + 2, big.end()));
    again.consume(2);
    EXPECT_TRUE(again.empty());
    EXPECT_EQ(fs::file_size(file), 0u);
}

TEST_F(SpoolTest, ADamagedEntryCostsThatEntryAloneAndIsSetAsideOnce) {
    const auto all = entries(0, 100);
    {
        Spool spool(file);
        ASSERT_EQ(spool.append(all), Spool::Append::done);
    }
    std::string bytes = contents(file);
    size_t tenth = 0;
    for (int i = 0; i < 10; ++i) tenth += size_t(Spool::framedBytes(all[size_t(i)].size()));
    const size_t tenthBytes = size_t(Spool::framedBytes(all[10].size()));
    for (const size_t flipped :
         {size_t{2}, size_t{6}, kHeaderBytes + 3}) {  // the mark, the length, the entry
        SCOPED_TRACE(flipped);
        std::string damaged = bytes;
        damaged[tenth + flipped] ^= 0x10;
        overwrite(damaged);
        fs::remove(file + ".damaged");
        std::vector<std::string> want = all;
        want.erase(want.begin() + 10);
        {
            Spool spool(file);
            EXPECT_EQ(spool.waiting(), 99u);
            EXPECT_EQ(spool.damagedBytes(), tenthBytes);
            EXPECT_EQ(contents(file + ".damaged"), damaged.substr(tenth, tenthBytes));
            EXPECT_EQ(spool.front(200), want);
            ASSERT_EQ(spool.append(entries(100, 1)), Spool::Append::done);
        }
        Spool again(file);  // set aside once: the next start passes them by
        EXPECT_EQ(again.damagedBytes(), 0u);
        want.push_back(entries(100, 1)[0]);
        EXPECT_EQ(again.front(200), want);
    }
}

TEST_F(SpoolTest, AnEntryCutShortIsSetAsideAndLaterEntriesFollowTheWholeOnes) {
    {
        Spool spool(file);
        ASSERT_EQ(spool.append(entries(0, 2)), Spool::Append::done);
    }
    const auto whole = fs::file_size(file);
    const std::string cut = frame(entries(2, 1)[0]).substr(0, 9);  // killed in the middle of a write
    std::ofstream(file, std::ios::app | std::ios::binary).write(cut.data(), std::streamsize(cut.size()));
    Spool spool(file);
    EXPECT_EQ(spool.waiting(), 2u);
    EXPECT_EQ(spool.damagedBytes(), cut.size());
    EXPECT_EQ(fs::file_size(file), whole);
    EXPECT_EQ(contents(file + ".damaged"), cut);
    ASSERT_EQ(spool.append(entries(7, 1)), Spool::Append::done);
    auto want = entries(0, 2);
    want.push_back(entries(7, 1)[0]);
    EXPECT_EQ(spool.front(5), want);
}

TEST_F(SpoolTest, EntriesOfTheFirstFramingAreReadBeforeNewOnes) {
    // The mark "QCDS", the length and the CRC-32 of the entry.
    std::string old;
    for (const std::string &e : entries(0, 3)) {
        old += "QCDS";
        for (const uint32_t v : {uint32_t(e.size()), crc32(e.data(), e.size())})
            for (int i = 0; i < 4; ++i) old += char(v >> (8 * i));
        old += e;
    }
    overwrite(old);
    Spool spool(file);
    ASSERT_EQ(spool.waiting(), 3u);
    ASSERT_EQ(spool.append(entries(3, 1)), Spool::Append::done);
    EXPECT_EQ(spool.front(10), entries(0, 4));
    EXPECT_EQ(spool.damagedBytes(), 0u);
}

TEST_F(SpoolTest, ItNeverGrowsPastItsBoundAndOneProcessHoldsItAtATime) {
    const uint64_t bound =
        Spool::framedBytes(entries(0, 1)[0].size()) * 2 + Spool::framedBytes(entries(1, 1)[0].size());
    Spool spool(file, {bound, 100});
    ASSERT_EQ(spool.append(entries(0, 2)), Spool::Append::done);
    EXPECT_EQ(spool.append(entries(0, 2)), Spool::Append::full);  // all or none
    EXPECT_EQ(fs::file_size(file), spool.bytes());
    EXPECT_FALSE(spool.reserve(bound));
    EXPECT_TRUE(spool.reserve(bound - spool.bytes()));
    EXPECT_EQ(spool.append({std::string(101, 'x')}), Spool::Append::failed);
    EXPECT_EQ(spool.append(entries(0, 1)), Spool::Append::done);
    EXPECT_EQ(spool.waiting(), 3u);
    EXPECT_THROW(Spool{file}, std::runtime_error);
    EXPECT_THROW(Spool{(dir / "no-folder" / "s").string()}, std::runtime_error);
}

}  // namespace
}  // namespace qspool
