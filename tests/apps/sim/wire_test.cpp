// Station records and adjunct datagrams as the simulator builds them.
#include <gtest/gtest.h>

#include "records.h"
#include "sim/adjunct_wire.h"
#include "sim/station_wire.h"

namespace qsim {
namespace {

using test::Seen;
using test::split;

constexpr uint32_t kHost = 0x7F000001;  // 127.0.0.1

Seen only(const Bytes &record) {
    const auto seen = split(record);
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen.front().bytes.size(), record.size()) << "the length byte covers the record exactly";
    return seen.front();
}

TEST(SimStationWire, LengthBytesCoverEachRecord) {
    using namespace station;
    EXPECT_EQ(registrationReply(kHost, 17, 0, 1, 2).size(), 40u);
    EXPECT_EQ(statusReply(kHost, 17, 0, 2).size(), 16u);
    EXPECT_EQ(acknowledge(kHost, 17, 0x81).size(), 12u);
    EXPECT_EQ(event(kHost, 17, Event{}).size(), 24u);
    EXPECT_EQ(numberInfo(kHost, 17, "4711").size(), 40u);
    EXPECT_EQ(displayText(kHost, 17, "hello").size(), 44u);  // the length the library requires
    EXPECT_EQ(callEntry(kHost, 17, 6, 1, 2, 3).size(), 24u);
    EXPECT_EQ(extensionStatus(201, 2).size(), 12u);
    for (const Bytes &r : {registrationReply(kHost, 17, 0, 1, 2), statusReply(kHost, 17, 0, 2),
                           acknowledge(kHost, 17, 0x81), displayText(kHost, 17, "hi"), parkList({})}) {
        only(r);
    }
}

TEST(SimStationWire, DestinationIsTheHostAddressLittleEndian) {
    const Bytes r = station::acknowledge(kHost, 17, 0x85);
    const uint8_t head[] = {0x01, 0x00, 0x00, 0x7F, 0xBF, 0x85, 0x00, 0x02, 17, 0, 0, 0};
    EXPECT_TRUE(std::equal(std::begin(head), std::end(head), r.begin()));
    EXPECT_EQ(only(station::extensionStatus(201, 3)).destination(), station::kEveryHost);
}

TEST(SimStationWire, RecordBodies) {
    using namespace station;
    const Seen reply = only(registrationReply(kHost, 17, 6, 0xABCD, 0x100));
    EXPECT_EQ(reply.sub(), 6);
    EXPECT_EQ(reply.u32(8), 17u);
    EXPECT_EQ(reply.u32(12), 0xABCDu);
    EXPECT_EQ(reply.u32(16), 0x100u);

    Event e;
    e.sub = 8;
    e.previous = 6;
    e.word = 0x1234;
    e.reference = 7;
    e.flags = 0x140;
    const Seen ev = only(event(kHost, 17, e));
    EXPECT_EQ(ev.type(), kCallEvent);
    EXPECT_EQ(ev.sub(), 8);
    EXPECT_EQ(ev.u16(12), 0x1234);
    EXPECT_EQ(ev.bytes[16], 6);
    EXPECT_EQ(ev.u16(18), 7);
    EXPECT_EQ(ev.u32(20), 0x140u);

    const Seen number = only(numberInfo(kHost, 17, "47*#"));
    EXPECT_EQ(number.extra(), 0);  // the only kind the library shows
    const uint8_t codes[] = {4, 7, 14, 15, 0xFF};
    EXPECT_TRUE(std::equal(std::begin(codes), std::end(codes), number.bytes.begin() + 12));

    const Seen text = only(displayText(kHost, 17, std::string(40, 'x')));
    EXPECT_EQ(text.bytes[43], 'x');  // 32 characters, no more

    const Seen ext = only(extensionStatus(201, 2));
    EXPECT_EQ(ext.extra(), 2);
    EXPECT_EQ(ext.u32(8), 201u);
}

TEST(SimStationWire, ParkListHoldsThreeWordsAnEntry) {
    std::vector<station::Parked> entries(40, station::Parked{1, 2, 3});
    entries[0] = {0xFFFF0701, 0xFFFF4711, 9};
    const Seen list = only(station::parkList(entries));
    EXPECT_EQ(list.length(), 3 * 32 + 1);  // at most 32 entries
    EXPECT_EQ(list.u32(8), 0xFFFF0701u);
    EXPECT_EQ(list.u32(12), 0xFFFF4711u);
    EXPECT_EQ(list.u32(16), 9u);
    EXPECT_EQ(only(station::parkList({})).length(), 1);
}

TEST(SimStationWire, RequestsAreTakenOnlyWithAZeroFirstWordAndAWholeHeader) {
    uint8_t request[44] = {0, 0, 0, 0, 16, 0x81, 0xA7, 0, 0x11, 0x22, 0x33, 0x44, 9};
    const auto r = station::parseRequest(request, sizeof request);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->type, 16);
    EXPECT_TRUE(r->queued());
    EXPECT_EQ(r->code, 0xA7);
    EXPECT_EQ(r->word, 0x44332211u);
    EXPECT_EQ(r->payloadI32(0), 9);
    EXPECT_EQ(r->payloadI32(30), -1);  // past the payload
    EXPECT_FALSE(station::parseRequest(request, 11));
    request[0] = 1;
    EXPECT_FALSE(station::parseRequest(request, sizeof request));
}

TEST(SimAdjunctWire, RouteRequestLayout) {
    adjunct::RouteRequest r;
    r.id = 7;
    r.when = DateTime{2024, 5, 17, 11, 0, 5};
    r.numberA = 4711;
    r.numberB = 17;
    r.digitsA = "4711";
    r.digitsB = "17";
    const Bytes d = adjunct::routeRequest(r);
    ASSERT_EQ(d.size(), 84u);
    EXPECT_EQ(d[0], 0);
    EXPECT_EQ(d[1], 0x41);
    EXPECT_EQ(getU16(&d[2]), 80);
    EXPECT_EQ(getU32(&d[4]), r.when.packed());
    EXPECT_EQ(getU32(&d[8]), 4711u);
    EXPECT_EQ(getU32(&d[12]), 17u);
    EXPECT_EQ(getU32(&d[16]), 7u);
    EXPECT_EQ(d[20], 1);  // digits B first
    EXPECT_EQ(d[22], 0xFF);
    EXPECT_EQ(d[52], 4);  // then digits A
    EXPECT_EQ(d[56], 0xFF);
    EXPECT_EQ(adjunct::typeOf(d.data(), d.size()), adjunct::kRouteRequest);
}

TEST(SimAdjunctWire, KeepAliveReplyAndResponses) {
    EXPECT_EQ(adjunct::keepAliveReply(), (Bytes{0, 0x81, 0, 0}));
    Bytes response(44, 0xFF);
    response[0] = 0;
    response[1] = 0xC1;
    putU16(response, 2, 40);
    putU32(response, 4, 3);
    putU32(response, 8, static_cast<uint32_t>(-5));
    response[12] = 2;
    response[13] = 0;
    const auto r = adjunct::parseRouteResponse(response.data(), response.size());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->id, 3u);
    EXPECT_EQ(r->value, -5);
    EXPECT_EQ(r->digits, "20");
    EXPECT_FALSE(adjunct::parseRouteResponse(response.data(), 43));
    response.push_back(0);  // longer than its header says
    EXPECT_FALSE(adjunct::typeOf(response.data(), response.size()));
    const uint8_t notZero[] = {1, 0x81, 0, 0};
    EXPECT_FALSE(adjunct::typeOf(notZero, 4));
}

TEST(SimBytes, NibbleWordsAndDialCodes) {
    EXPECT_EQ(nibbleWord("4711"), 0xFFFF4711u);
    EXPECT_EQ(nibbleWord(""), 0xFFFFFFFFu);
    EXPECT_EQ(nibbleWord("mailbox"), 0xFFFFFFFFu);
    EXPECT_EQ(dialCode('d'), 13);
    EXPECT_EQ(dialCode('x'), kNoCode);
    const uint8_t codes[] = {1, 10, 14, 15, 16, 2};
    EXPECT_EQ(dialText(codes, 6), "1A*#");
}

}  // namespace
}  // namespace qsim
