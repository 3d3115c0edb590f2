// The station path, driven by a script: datagrams through the tick's own
// record sink, interleaved with the exported operations (texts from the
// input), client starts and stops, and ticks of the manual clock, with
// clients registering, registered (requests waiting, extensions watched,
// digits dialed), failed and stopped.  The application reads its messages
// after every tick and whenever the script says (so a client may stop while
// messages to it still wait), reading every payload whole, texts to their
// NUL and line lists to their null; every live client is checked after
// every step, and an operation the library refuses must change nothing.
//
// The station endpoint is never opened: the library is only told that it
// is, so that clients start and every send finds the endpoint closed.
// Nothing leaves the process.
#include <cstring>

#include "core/scratch.h"
#include "core/wire.h"
#include "library/library.h"
#include "qapi.h"
#include "script.h"
#include "station/client.h"
#include "station/endpoint.h"
#include "station/framing.h"
#include "station/park_table.h"
#include "support/invariants.h"

namespace qapi::fuzz {
namespace {

constexpr uint32_t kHost = 0x0A4E0001;
constexpr size_t kSlots = 8;
constexpr size_t kThreadSlot = 7;  // notifies the thread; the others a window each
constexpr int32_t kStations[kSlots] = {17, 18, 19, 20, 21, 22, kAnyStation, 999};
constexpr int32_t kFirstExtension = 200;

QWindow gWindows[kSlots];
QapiHandle gHandles[kSlots];  // the last handle started in each slot, live or stopped
// The slot's client has stopped watching an extension (or stopped) since
// the application last read its messages.
bool gUnwatched[kSlots];

// How far the payload arena has been cut since the application last read:
// a payload stays intact until about 512 KiB more have been cut, and the
// application reads before its oldest unread payload gets near that (one
// step of the script cuts at most about 280 KiB: 64 call lists).
constexpr size_t kReadBeforeWords = 200 * 1024 / kScratchWordSize;
uint32_t gCursor;
size_t gUnreadWords;

StationClient *liveClient(size_t slot) { return stationFindClient(gHandles[slot]); }

void dispatch(const Bytes &datagram) {
    const Exact copy(datagram);
    stationDispatchDatagram(copy.data(), copy.size(), kHost, libraryStationSink());
}

Bytes header(uint32_t destination, uint8_t type, uint8_t sub, uint8_t extra, size_t size) {
    Bytes r(size);
    writeU32le(r.data(), destination);
    r[4] = type;
    r[5] = sub;
    r[6] = extra;
    r[7] = static_cast<uint8_t>((size - 4) / 4);
    return r;
}

// Reads every waiting notification as the application would and checks it
// against the client it was meant for.
void readNotifications() {
    for (const QMessage &m : drain()) {
        size_t slot = kThreadSlot;
        if (m.window != 0) {
            slot = 0;
            while (slot < kThreadSlot && gWindows[slot] != m.window) ++slot;
            require(slot < kThreadSlot, "a message to no window of a client");
        }
        const StationClient *watcher = gUnwatched[slot] ? nullptr : liveClient(slot);
        require(test::stationNotificationProblem(m, watcher), "notification");
    }
    for (bool &unwatched : gUnwatched) unwatched = false;
    gCursor = scratchArena().cursor;
    gUnreadWords = 0;
}

// After each step of the script: the application reads when its oldest
// unread payload gets old, and every live client is checked.
void check() {
    const uint32_t now = scratchArena().cursor;
    gUnreadWords += now >= gCursor ? now - gCursor : kScratchWords - gCursor + now;
    gCursor = now;
    if (gUnreadWords >= kReadBeforeWords) readNotifications();
    for (size_t slot = 0; slot < kSlots; ++slot) {
        if (const StationClient *c = liveClient(slot)) require(test::stationClientProblem(*c), "client");
    }
}

// A handle for an operation: a slot's (live or stopped), a stranger that
// looks like a client, or none.
QapiHandle pickHandle(Script &s, StationClient &stranger) {
    const uint8_t b = s.byte();
    if (b < 0xF0) return gHandles[b % kSlots];
    if (b < 0xF8) {
        if (const StationClient *c = liveClient(b % kSlots)) stranger = *c;
        return &stranger;
    }
    return nullptr;
}

int32_t pickExtension(Script &s) {
    const uint8_t b = s.byte();
    return b < 0xF0 ? kFirstExtension + b % 8 : static_cast<int32_t>(s.u32());
}

int32_t pickParkKey(Script &s) {
    const uint8_t b = s.byte();
    return b < 0xE0 ? stationParkTables().current[b % kParkEntries].key : static_cast<int32_t>(s.u32());
}

// One exported operation; a refused one must leave the client as it was.
void operate(Script &s) {
    StationClient stranger{};
    const QapiHandle h = pickHandle(s, stranger);
    const uint8_t which = s.byte() % 20;
    const StationClient *live = stationFindClient(h);
    StationClient before{};
    if (live) std::memcpy(&before, live, sizeof before);
    using Key = int(QAPI_CALL *)(QapiHandle);
    static constexpr Key kKeys[] = {QAPI_Client_answer,      QAPI_Client_clear,    QAPI_Client_hold,
                                    QAPI_Client_retrieve,    QAPI_Client_callb,    QAPI_Client_suspend,
                                    QAPI_Client_conference,  QAPI_Client_transfer, QAPI_Client_record_start,
                                    QAPI_Client_record_stop, QAPI_Client_mailbox};
    constexpr uint8_t kKeyOperations = sizeof kKeys / sizeof kKeys[0];
    int result = 0;
    if (which < kKeyOperations) {
        result = kKeys[which](h);
    } else if (which == kKeyOperations) {
        result = QAPI_Client_newcall(h, Text(s, 48).get());
    } else if (which == kKeyOperations + 1) {
        result = QAPI_Client_digits(h, Text(s, 48).get());
    } else if (which == kKeyOperations + 2) {
        result = QAPI_Client_transfer_undo(h, Text(s, 16).get());
    } else if (which == kKeyOperations + 3) {
        result = QAPI_Client_deflect(h, Text(s, 48).get());
    } else if (which == kKeyOperations + 4) {
        const int32_t extension = pickExtension(s);
        const auto on = static_cast<int32_t>(s.byte() % 3);
        for (size_t slot = 0; slot < kSlots; ++slot) gUnwatched[slot] |= on == 0 && h == gHandles[slot];
        result = QAPI_Client_bdp_register(h, extension, on);
    } else if (which == kKeyOperations + 5) {
        result = QAPI_Client_bdp_answer(h, pickExtension(s));
    } else if (which == kKeyOperations + 6) {
        result = QAPI_Client_bdp_intrude(h, pickExtension(s));
    } else if (which == kKeyOperations + 7) {
        result = QAPI_Client_resume(h, pickParkKey(s));
    } else {  // many watches at once; rarely, past the panel's 512 slots (each costs a scan)
        const int32_t first = static_cast<int32_t>(s.u16());
        const uint8_t b = s.byte();
        const int count = b < 0xF0 ? b % 32 : 600;
        for (int i = 0; i < count && result == 0; ++i) result = QAPI_Client_bdp_register(h, first + i, 1);
        return;
    }
    require(result == 0 || result == 1, "an operation returned neither 0 nor 1");
    if (live && result == 1)
        require(std::memcmp(&before, live, sizeof before) == 0, "a refused operation changed the client");
    if (!live) require(result == 1, "an operation on no live client was taken");
}

void startClient(Script &s) {
    const size_t slot = s.byte() % kSlots;
    const uint8_t choice = s.byte();
    const int32_t station = choice < 0xF0 ? kStations[choice % kSlots] : static_cast<int32_t>(s.u32());
    if (liveClient(slot)) return;  // one client per window: the harness tells them apart by it
    if (choice % 31 == 30) {       // nobody to notify: refused
        require(QAPI_Client_start(0, station) == nullptr, "a client without a window started");
        return;
    }
    gHandles[slot] = slot == kThreadSlot ? QAPI_Client_start_Thread(qmsgCurrentThreadId(), station)
                                         : QAPI_Client_start(gWindows[slot], station);
}

// A record for the station of a slot's client, the body from the script.
void recordFor(Script &s) {
    const StationClient *c = liveClient(s.byte() % kSlots);
    const uint8_t type = s.byte();
    const uint8_t sub = s.byte();
    const uint8_t extra = s.byte();
    const Bytes body = s.bytes(4 * (s.byte() % 16));
    Bytes r = header(kHost, type, sub, extra, RecordHeader::kStationRecordSize + body.size());
    writeU32le(r.data() + RecordHeader::kStation, static_cast<uint32_t>(c ? c->snapshot.stationId : 17));
    std::copy(body.begin(), body.end(), r.begin() + RecordHeader::kStationRecordSize);
    dispatch(r);
}

void registrationReply(Script &s) {
    const StationClient *c = liveClient(s.byte() % kSlots);
    const uint8_t state = s.byte();
    int32_t station = c ? c->snapshot.stationId : 17;
    if (station == kAnyStation) station = 600 + s.byte() % 4;
    Bytes r = header(kHost, kRegistrationReplyType, state, 0, RegistrationReply::kSize);
    writeU32le(r.data() + RecordHeader::kStation, static_cast<uint32_t>(station));
    writeU32le(r.data() + RegistrationReply::kToken, s.u32());
    writeU32le(r.data() + RegistrationReply::kFlags, s.u32());
    dispatch(r);
}

// The acknowledgement of a client's outstanding request, or of any sequence.
void acknowledge(Script &s) {
    const StationClient *c = liveClient(s.byte() % kSlots);
    const uint8_t given = s.byte();
    const uint8_t sequence =
        c && given < 0xC0 ? static_cast<uint8_t>(((c->queueTail + 1) & 63) | kSequenceBit) : given;
    Bytes r = header(kHost, kAcknowledgeType, sequence, 0, RecordHeader::kStationRecordSize);
    writeU32le(r.data() + RecordHeader::kStation, static_cast<uint32_t>(c ? c->snapshot.stationId : 17));
    dispatch(r);
}

void extensionStatus(Script &s) {
    const StationClient *c = liveClient(s.byte() % kSlots);
    const uint8_t index = s.byte();
    int32_t extension = kFirstExtension + index % 8;
    if (c && c->monitorSlotsUsed > 0) extension = c->monitorExtension[index % c->monitorSlotsUsed];
    Bytes r = header(kBroadcast, kExtensionStatusType, 0, s.byte(), ExtensionStatusRecord::kSize);
    writeU32le(r.data() + ExtensionStatusRecord::kExtension, static_cast<uint32_t>(extension));
    dispatch(r);
}

void parkList(Script &s) {
    const size_t entries = s.byte() % (kParkEntries + 2);
    const Bytes words = s.bytes(entries * ParkListRecord::kEntrySize);
    Bytes r = header(kBroadcast, kParkListType, 0, 0, ParkListRecord::kFirstEntry + words.size());
    std::copy(words.begin(), words.end(), r.begin() + ParkListRecord::kFirstEntry);
    dispatch(r);
}

// Ticks one at a time; the application drains its queue after each.
void ticks(Script &s) {
    const uint8_t b = s.byte();
    const int n = b < 0xE0 ? 1 + b % 8 : b < 0xF8 ? 60 : 460;
    for (int i = 0; i < n; ++i) {
        qmsgAdvanceClock(100);
        readNotifications();
    }
}

}  // namespace
}  // namespace qapi::fuzz

using namespace qapi;
using namespace qapi::fuzz;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    for (QWindow &w : gWindows) w = manualClockAndWindow();  // the thread slot's goes unused
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    QAPI_Stack_initialize(5001);
    stationEndpoint().open = true;  // never opened: sends find it closed
    for (QapiHandle &h : gHandles) h = nullptr;
    readNotifications();
    Script s(data, size);
    while (!s.done()) {
        switch (s.byte() % 11) {
        case 0:
            dispatch(s.bytes(s.u16() % (kStationBufferSize + 1)));
            break;
        case 1:
            recordFor(s);
            break;
        case 2:
            registrationReply(s);
            break;
        case 3:
            acknowledge(s);
            break;
        case 4:
            startClient(s);
            break;
        case 5: {
            const size_t slot = s.byte() % kSlots;
            gUnwatched[slot] = true;
            QAPI_Client_stop(gHandles[slot]);
            break;
        }
        case 6:
            operate(s);
            break;
        case 7:
            ticks(s);
            break;
        case 8:
            extensionStatus(s);
            break;
        case 9:
            parkList(s);
            break;
        default:
            readNotifications();
            break;
        }
        check();
    }
    readNotifications();
    QAPI_Stack_release();
    return 0;
}
