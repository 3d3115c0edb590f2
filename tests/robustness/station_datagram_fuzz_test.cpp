// Station datagrams as the network may deliver them: records built from valid
// templates and then mutated (type, sub, extra and length bytes, station,
// body bytes, truncation), and noise, cut by the framing and handed on by the
// tick's own sink to clients that are registering, registered (requests
// waiting, extensions watched, digits dialed) and failed.
// No read goes past the datagram, every client stays consistent, every
// payload is well formed, and a datagram that no handler may act on changes
// nothing and posts nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/scratch.h"
#include "core/wire.h"
#include "library/library.h"
#include "robustness/fuzz_support.h"
#include "station/call_table.h"
#include "station/client.h"
#include "station/dispatch.h"
#include "station/endpoint.h"
#include "station/framing.h"
#include "station/monitor_panel.h"
#include "station/park_table.h"
#include "station/request_queue.h"
#include "support/invariants.h"
#include "support/test_support.h"

namespace qapi {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kHost = 0x0A4E0001;
constexpr int32_t kStations[] = {17, 18, 19, 20, 21, 22, kAnyStation, 999};
constexpr size_t kClients = 8;
StationClient *gClients[kClients];
QWindow gWindows[kClients];
bool gMayAct;  // the datagram holds a record that some handler may act on

void classifyHost(const uint8_t *r, size_t n) {
    static constexpr uint8_t kTaken[] = {4,    9,    0x81, 0x83, 0xBE, 0xBF, 0xC0,
                                         0xC1, 0xC2, 0xC4, 0xC6, 0xC7, 0xC8};
    if (n < RecordHeader::kStationRecordSize || !std::memchr(kTaken, r[4], sizeof kTaken)) return;
    for (StationClient *c : stationClients()) {
        const bool anyId = c && r[4] == kRegistrationReplyType && c->snapshot.stationId == kAnyStation;
        gMayAct |= c && (r[4] == 4 || r[4] == 9 || anyId || readI32le(r + 8) == c->snapshot.stationId);
    }
}
void classifyPark(const uint8_t *, size_t) { gMayAct = true; }
void classifyBroadcast(const uint8_t *r, size_t n) { gMayAct |= n >= 12 && r[4] == kExtensionStatusType; }
constexpr StationRecordSink kClassify{classifyHost, classifyPark, classifyBroadcast};

Bytes makeRecord(test::Prng &r) {
    static constexpr uint8_t kTypes[] = {4,    9,    0x81, 0x83, 0xBE, 0xBF, 0xC0, 0xC1,
                                         0xC2, 0xC4, 0xC6, 0xC7, 0xC8, 0xC3, 0xC5};
    static constexpr size_t kSizes[] = {12, 12, 40, 16, 12, 12, 24, 24, 40, 12, 24, 16, 44, 12, 8};
    const size_t t = r.below(sizeof kTypes);
    const size_t size = kTypes[t] == kParkListType                     ? 8 + 12 * r.below(41)
                        : kTypes[t] == kCallEntryType && r.percent(30) ? 16
                                                                       : kSizes[t];
    Bytes b(size);
    for (uint8_t &x : b) x = r.percent(50) ? r.byte() : static_cast<uint8_t>(r.below(16));
    const uint32_t destination = t >= 13 ? kBroadcast : kHost;
    writeU32le(b.data(), r.percent(90) ? destination : r.pick<uint32_t>({0, kHost, kBroadcast, 0x0A000001}));
    b[4] = kTypes[t];
    b[5] = static_cast<uint8_t>(kTypes[t] == kAcknowledgeType ? 0x80 | r.below(64) : r.below(40));
    b[6] = r.percent(70) ? 0 : r.byte();
    b[7] = static_cast<uint8_t>((size - 4) / 4);
    if (size >= 12)
        writeU32le(b.data() + 8, static_cast<uint32_t>(t == 13 ? 200 + r.below(6) : r.pick(kStations)));
    if (size >= 24 && r.percent(30)) b[16] = 30;  // the server state with handling of its own
    if (size >= 24 && b[5] == 12) b[12] = r.pick<uint8_t>({0, 1, 121, 122, 66, 67, 128});
    if (r.percent(15) && size > 12) {  // whole, but shorter than its body
        b.resize(12 + 4 * r.below((size - 12) / 4));
        b[7] = static_cast<uint8_t>((b.size() - 4) / 4);
    }
    if (r.percent(10)) b[4] = r.byte();
    if (r.percent(10)) b[5] = r.byte();
    if (r.percent(10)) b[7] = r.percent(50) ? r.byte() : static_cast<uint8_t>(b[7] + r.below(3) - 1);
    if (r.percent(10)) b.resize(r.below(b.size() + 1));
    if (r.percent(10) && !b.empty()) b[r.below(b.size())] = r.byte();
    return b;
}

Bytes makeDatagram(test::Prng &r) {
    Bytes d;
    while (d.empty() || r.percent(60)) {
        const Bytes rec = makeRecord(r);
        if (d.size() + rec.size() > kStationBufferSize) break;
        d.insert(d.end(), rec.begin(), rec.end());
    }
    if (r.percent(10)) d.resize(r.below(d.size() + 1));
    if (r.percent(5)) {
        for (size_t i = 4; i < d.size(); ++i) d[i] = r.byte();  // noise after the first word
    }
    return d;
}

std::string messageProblem(const QMessage &m) {
    size_t k = 0;
    while (k < kClients && !(gClients[k] && gWindows[k] == m.window)) ++k;
    return k == kClients ? "message to no client" : test::stationNotificationProblem(m, gClients[k]);
}

class StationDatagramFuzz : public test::ManualClockTest {
protected:
    void SetUp() override {
        ManualClockTest::SetUp();
        ASSERT_TRUE(test::isolatedNetwork());
        for (QWindow &w : gWindows) w = qmsgCreateWindow();
    }
    void TearDown() override {
        QAPI_Stack_release();
        for (QWindow w : gWindows) qmsgDestroyWindow(w);
        test::drainMessages();
        ManualClockTest::TearDown();
    }
    // Registered (0, 1, 4: one with requests waiting, one watching extensions),
    // failed (2), registering (3, 6: one without its identifier yet, 7), and
    // an empty slot (5).
    void startClients() {
        ASSERT_EQ(QAPI_Stack_initialize(5001), 0);
        for (size_t k = 0; k < kClients; ++k) {
            gClients[k] = static_cast<StationClient *>(QAPI_Client_start(gWindows[k], kStations[k]));
            ASSERT_NE(gClients[k], nullptr);
        }
        for (size_t k : {0, 1, 4}) {
            Bytes reply(40);
            reply[4] = kRegistrationReplyType;
            writeU32le(reply.data() + 8, static_cast<uint32_t>(kStations[k]));
            writeU32le(reply.data() + 16, 0x173);
            stationHandleRecord(*gClients[k], reply.data(), reply.size());
        }
        const uint8_t refusal[12] = {0, 0, 0, 0, kRegistrationRefusedType, 1, 0, 2, 19, 0, 0, 0};
        stationHandleRecord(*gClients[2], refusal, sizeof refusal);
        for (int i = 0; i < 5; ++i) stationSendFeatureKey(*gClients[1], 167);
        for (int32_t e = 200; e < 204; ++e) QAPI_Client_bdp_register(gClients[0], e, 1);
        QAPI_Client_stop(gClients[5]);
        gClients[5] = nullptr;
    }
};

// Every datagram goes through the tick's own admission: when a tick's budget
// is spent, a tick passes and the datagram goes on where it stopped.  Every
// payload is read a tick after the period that posted it, as a reader on
// another thread may.
TEST_F(StationDatagramFuzz, MutatedRecordsKeepEveryClientConsistentAndIgnoredOnesChangeNothing) {
    test::Prng r{0x5EED0001};
    std::vector<StationClient> before(kClients);
    std::vector<QMessage> late;  // posted since the last tick: read after the next one
    const auto tick = [&] {
        test::runTicks(1);
        for (const QMessage &m : late) EXPECT_EQ(messageProblem(m), "") << "read a tick late";
        late = test::drainMessages();
    };
    const size_t rounds = test::fuzzRounds(200000);
    for (size_t round = 0; round < rounds; ++round) {
        if (round % 256 == 0) {
            tick();
            startClients();
        }
        if (round % 64 == 63) tick();
        if (gClients[0] && r.percent(2)) QAPI_Client_newcall(gClients[0], "12");  // dialed text, pickup gone
        const std::vector<QMessage> dialed = test::drainMessages();
        late.insert(late.end(), dialed.begin(), dialed.end());

        const test::ExactCopy d(makeDatagram(r));
        gMayAct = false;
        stationDispatchDatagram(d.data(), d.size, kHost, kClassify);
        for (size_t k = 0; k < kClients && !gMayAct; ++k) {
            if (gClients[k]) std::memcpy(&before[k], gClients[k], sizeof(StationClient));
        }
        bool ticked = false;
        for (size_t at = 0; (at = stationDispatchRecords(d.data(), d.size, at, kHost, libraryStationSink())) < d.size;) {
            tick();  // the budget is spent: the rest of the datagram waits for the next tick
            ticked = true;
        }
        const std::vector<QMessage> posted = test::drainMessages();
        ASSERT_TRUE(gMayAct || ticked || posted.empty()) << "round " << round;
        late.insert(late.end(), posted.begin(), posted.end());
        for (size_t k = 0; k < kClients; ++k) {
            if (!gClients[k]) continue;
            ASSERT_EQ(test::stationClientProblem(*gClients[k]), "") << "client " << k << ", round " << round;
            ASSERT_TRUE(gMayAct || ticked || std::memcmp(&before[k], gClients[k], sizeof(StationClient)) == 0)
                << "round " << round;
        }
    }
}

// What a round left behind: every post (window, code, payload bytes) and a
// digest of every client record.
std::string roundTrace() {
    std::string t;
    auto bytes = [&](const void *from, size_t n) { t.append(static_cast<const char *>(from), n); };
    for (const QMessage &m : test::drainMessages()) {
        bytes(&m, sizeof m);
        const auto *p = reinterpret_cast<const char *>(m.lParam);
        switch (m.wParam) {
        case QAPI_NOTIFY_SNAPSHOT:
            bytes(p, sizeof(QapiStatusSnapshot));
            break;
        case QAPI_NOTIFY_NUMBER:
        case QAPI_NOTIFY_TEXT:
            bytes(p, kTextBlockSize);
            break;
        case QAPI_NOTIFY_EXTENSION:
            bytes(p, sizeof(QapiExtensionStatus));
            break;
        case QAPI_NOTIFY_CALL_LIST:
        case QAPI_NOTIFY_PARK_LIST:
            for (const char *line : reinterpret_cast<const QapiLineList *>(p)->lines) {
                if (line) bytes(line, kTextBlockSize);
            }
            break;
        default:
            break;
        }
    }
    for (const StationClient *c : gClients) {  // a digest of each client record
        const size_t digest =
            c ? std::hash<std::string_view>{}({reinterpret_cast<const char *>(c), sizeof(StationClient)}) : 0;
        bytes(&digest, sizeof digest);
    }
    return t;
}

// Records for this host reach only the clients they can concern: the same
// stream (with clients that wait for their identifier starting and stopping
// in between) leaves the same posts and the same clients as offering every
// record to every client in turn.
TEST_F(StationDatagramFuzz, RecordsReachingOnlyTheirOwnClientsEndAsIfEveryClientWereAsked) {
    const size_t rounds = test::fuzzRounds(40000);
    auto run = [&](const StationRecordSink &sink) {
        std::vector<std::string> trace;
        test::Prng r{0x5EED0002}, life{0x5EED0003};
        scratchArena().cursor = 0;  // the same payload addresses in both runs
        for (size_t round = 0; round < rounds; ++round) {
            if (round % 256 == 0) startClients();
            if (round % 64 == 63) test::runTicks(1);
            if (gClients[0] && r.percent(2)) QAPI_Client_newcall(gClients[0], "12");
            if (life.percent(3) && !gClients[5]) {
                gClients[5] = static_cast<StationClient *>(QAPI_Client_start(gWindows[5], kAnyStation));
            } else if (life.percent(3) && gClients[5]) {
                QAPI_Client_stop(gClients[5]);
                gClients[5] = nullptr;
            }
            const test::ExactCopy d(makeDatagram(r));
            stationDispatchDatagram(d.data(), d.size, kHost, sink);
            trace.push_back(roundTrace());
        }
        return trace;
    };
    const std::vector<std::string> asked = run(libraryStationSinkAskingEveryClient());
    const std::vector<std::string> indexed = run(libraryStationSink());
    for (size_t round = 0; round < rounds; ++round)
        ASSERT_EQ(indexed[round], asked[round]) << "round " << round;
}

}  // namespace
}  // namespace qapi
