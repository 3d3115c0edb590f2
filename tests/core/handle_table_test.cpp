// The handle table: lowest free slot first, a refused open creates nothing,
// only live records in the table are found, and stop and release close each
// record once, in slot order.
#include <gtest/gtest.h>

#include <vector>

#include "core/handle_table.h"

namespace qapi {
namespace {

struct Record {
    int id;
    bool usable;
    bool live() const { return usable; }
};

using Table = HandleTable<Record, 3>;

Record *startRecord(Table &table, int id, bool opens = true) {
    return table.start([&](Record &r) {
        EXPECT_EQ(r.id, 0);  // zero-initialised
        r.id = id;
        r.usable = true;
        return opens;
    });
}

TEST(HandleTable, StartTakesTheLowestFreeSlotAndARefusedOpenLeavesItFree) {
    Table table;
    Record *a = startRecord(table, 1);
    EXPECT_EQ(startRecord(table, 2, false), nullptr);
    Record *b = startRecord(table, 3);
    Record *c = startRecord(table, 4);
    EXPECT_EQ(table[1], b);
    EXPECT_EQ(startRecord(table, 5), nullptr);  // full
    ASSERT_TRUE(table.stop(b));
    EXPECT_EQ(startRecord(table, 6), table[1]);
    EXPECT_EQ(table[0], a);
    EXPECT_EQ(table[2], c);
    table.releaseAll();
}

TEST(HandleTable, OnlyLiveRecordsInTheTableAreFoundOrStopped) {
    Table table;
    Record *a = startRecord(table, 1);
    Record copy = *a;  // live, but not in the table
    EXPECT_EQ(table.find(a), a);
    EXPECT_EQ(table.find(nullptr), nullptr);
    EXPECT_EQ(table.find(&copy), nullptr);
    EXPECT_FALSE(table.stop(&copy));
    a->usable = false;
    EXPECT_EQ(table.find(a), nullptr);
    EXPECT_FALSE(table.stop(a));
    a->usable = true;
    std::vector<int> closed;
    EXPECT_TRUE(table.stop(a, [&](Record &r) { closed.push_back(r.id); }));
    EXPECT_FALSE(table.stop(a));  // stopped: refused without being read
    EXPECT_EQ(closed, std::vector<int>{1});
    EXPECT_EQ(table[0], nullptr);
}

TEST(HandleTable, ReleaseAllClosesEveryRecordInSlotOrderWithItsSlotAlreadyEmpty) {
    Table table;
    for (int id : {1, 2, 3}) startRecord(table, id);
    ASSERT_TRUE(table.stop(table[1]));
    std::vector<int> closed;
    table.releaseAll([&](Record &r) {
        closed.push_back(r.id);
        for (Record *slot : table) EXPECT_NE(slot, &r);
    });
    EXPECT_EQ(closed, (std::vector<int>{1, 3}));
    for (Record *slot : table) EXPECT_EQ(slot, nullptr);
}

}  // namespace
}  // namespace qapi
