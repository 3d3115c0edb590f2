// The adjunct link, driven by a script: datagrams of any content (and route
// requests built from the script's fields), keep-alive replies, answers on
// handles from the input or from requests posted, ticks, jumps of the tick
// count, and the server going away.  The server's end of the link is a local
// socket pair.  Every request posted names a pending slot; every answer
// taken reaches the server once, exactly as given, and a second is refused;
// a refused answer changes nothing; the link reports up and failed at most
// once each, in that order.
#include <cstring>

#include "adjunct/link.h"
#include "core/stack.h"
#include "core/wire.h"
#include "dial/dial_codes.h"
#include "qapi.h"
#include "script.h"
#include "support/invariants.h"

namespace qapi::fuzz {
namespace {

QWindow gWindow;

struct Model {
    std::vector<uint32_t> handles;  // of the requests posted, newest last
    int32_t lastState = QAPI_ADJUNCT_CONNECTING;
};

AdjunctLink *startLink(SocketPair &pair) {
    return adjunctLinks().start([&](AdjunctLink &link) {
        // As QAPI_Adjunct_start opens it, with the socket pair for the link.
        link.endpoint.socket = pair.library;
        link.endpoint.kind = EndpointKind::Datagram;
        link.endpoint.open = 1;
        link.state = LinkState::Connecting;
        link.keepAliveCountdown = kFirstKeepAliveCountdown;
        link.window = gWindow;
        link.magic = kLinkMagic;
        return true;
    });
}

void send(SocketPair &pair, const Bytes &datagram) {
    if (pair.server < 0) return;
    const Exact copy(datagram);
    (void)::send(pair.server, copy.data(), copy.size(), MSG_NOSIGNAL);
}

// What the link sent since the last look: keep-alives only (answers are
// read where they are given).
void takeKeepAlives(SocketPair &pair) {
    if (pair.server < 0) return;
    uint8_t d[128];
    for (ssize_t n; (n = ::recv(pair.server, d, sizeof d, 0)) >= 0;) {
        require(n == 4 && d[0] == 0 && d[1] == kAdjunctKeepAliveType,
                "the link sent other than a keep-alive");
    }
}

void tick(AdjunctLink &link, Model &m, SocketPair &pair) {
    qmsgAdvanceClock(100);
    const int32_t stateBefore = m.lastState;
    for (const QMessage &msg : drain()) {
        require(msg.window == gWindow && msg.message == QAPI_NOTIFY_MSG, "a message to another window");
        if (msg.wParam == QAPI_NOTIFY_ADJUNCT_STATUS) {
            const auto &status = *reinterpret_cast<const QapiStatusPayload *>(msg.lParam);
            // Up and failed may both be posted in one tick: the last one
            // posted is the link's state.
            require(status.state > m.lastState, "link states out of order");
            require(status.state != QAPI_ADJUNCT_FAILED ||
                        std::strcmp(status.statusText, kAdjunctFailedText) == 0,
                    "failure text");
            m.lastState = status.state;
            continue;
        }
        require(msg.wParam == QAPI_NOTIFY_ROUTE_REQUEST, "a notification of another kind");
        const auto &request = *reinterpret_cast<const QapiRouteRequestPayload *>(msg.lParam);
        require(test::routeRequestProblem(link, request), "route request");
        m.handles.push_back(request.handle);
    }
    require(m.lastState == stateBefore || m.lastState == static_cast<int32_t>(link.state),
            "the last state posted is not the link's");
    takeKeepAlives(pair);
}

Bytes routeRequest(Script &s) {
    Bytes d(kRouteRequestSize, kNoDialCode);
    d[0] = 0;
    d[1] = kRouteRequestType;
    writeU16le(d.data() + 2, static_cast<uint16_t>(kRouteRequestSize - kAdjunctHeaderSize));
    const uint8_t id = s.byte();
    writeU32le(d.data() + 16, id < 0xF0 ? id % 40 : s.u32());  // few ids: repetitions
    for (size_t at : {size_t{4}, size_t{8}, size_t{12}}) writeU32le(d.data() + at, s.u32());
    const Bytes codes = s.bytes(s.byte() % 65);
    std::copy(codes.begin(), codes.end(), d.begin() + 20);
    return d;
}

Bytes bytesOf(const AdjunctLink &link) {
    const auto *b = reinterpret_cast<const uint8_t *>(&link);
    return Bytes(b, b + sizeof link);
}

// An answer on a handle posted (or any); taken means sent once, exactly.
void answer(AdjunctLink &link, Model &m, SocketPair &pair, Script &s) {
    const uint8_t pick = s.byte();
    uint32_t handle = m.handles.empty() || pick >= 0xF0
                          ? s.u32()
                          : m.handles[m.handles.size() - 1 - pick % m.handles.size()];
    if (pick % 16 == 15) handle ^= 1u << (s.byte() % 32);
    const Text digits(s, 48);
    const auto value = static_cast<int32_t>(s.u32());
    const Bytes before = bytesOf(link);
    if (QAPI_Adjunct_response(&link, handle, digits.get(), value) != 0) {
        require(bytesOf(link) == before, "a refused answer changed the link");
        return;
    }
    const RouteSlot &slot = link.slots[handle >> 16];
    require(slot.state == SlotState::Answered, "an answer taken left its request pending");
    uint8_t sent[128];
    const ssize_t n = ::recv(pair.server, sent, sizeof sent, 0);
    require(n == static_cast<ssize_t>(kRouteResponseSize) && sent[1] == kRouteResponseType,
            "an answer taken was not sent");
    require(readU32le(sent + 4) == slot.requestId && readI32le(sent + 8) == value,
            "the answer's id or value");
    uint8_t codes[kDialBufferSize];
    packDialCodes(digits.get(), codes);
    require(std::memcmp(sent + 12, codes, sizeof codes) == 0, "the answer's digits");
    require(QAPI_Adjunct_response(&link, handle, digits.get(), value) == 1, "a second answer was taken");
}

}  // namespace
}  // namespace qapi::fuzz

using namespace qapi;
using namespace qapi::fuzz;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    gWindow = manualClockAndWindow();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    QAPI_Stack_initialize(0);
    Script s(data, size);
    SocketPair pair(SOCK_DGRAM);
    AdjunctLink *link = startLink(pair);
    require(link != nullptr, "the link did not start");
    Model m;
    while (!s.done()) {
        switch (s.byte() % 7) {
        case 0:
            send(pair, s.bytes(s.u16() % (kAdjunctBufferSize + 64)));
            break;
        case 1:
            send(pair, routeRequest(s));
            break;
        case 2:
            send(pair, {0, kAdjunctKeepAliveReplyType, 0, 0});
            break;
        case 3:
            answer(*link, m, pair, s);
            break;
        case 4:
            for (int n = 1 + s.byte() % 16; n > 0; --n) tick(*link, m, pair);
            break;
        case 5:
            stack().stackTick += s.u32();
            break;  // far ahead, across the wrap
        default:
            pair.closeServer();
            break;
        }
    }
    QAPI_Stack_release();
    drain();
    return 0;
}
