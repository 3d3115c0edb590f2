// The simulated call server's view of its stations: registration, keep-alive,
// acknowledgement of every queued request, and a small, deterministic model
// of calls that reacts to the feature keys the way a telephone user expects
// (answer connects, hold gives dial tone with the call held, clear hangs up,
// a new call with digits rings back ...).  It produces the records to send;
// the sockets are elsewhere.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/bytes.h"
#include "sim/station_wire.h"

namespace qsim {

// What one input made the server do: the records to multicast (back to back
// in one datagram) and lines for the log.
struct Output {
    Bytes datagram;
    std::vector<std::string> notes;
    void add(const Bytes &record) { datagram.insert(datagram.end(), record.begin(), record.end()); }
    void note(std::string line) { notes.push_back(std::move(line)); }
    void append(Output other);
};

// Where a station's call stands; the number is the station call state that
// the library derives from the event the server sends for it.
enum class Phase : uint8_t {
    Idle = 0,
    Dialling = 1,
    DialTone = 2,
    Ringback = 4,
    Ringing = 6,
    Connected = 10
};
const char *phaseName(Phase phase);

struct Call {
    std::string peer;     // the other party's number, or a name
    uint16_t number = 0;  // the server's call number (call list)
};

struct Station {
    int32_t id = 0;
    uint32_t token = 0;
    uint32_t host = 0;  // destination word of its records
    Phase phase = Phase::Idle;
    std::optional<Call> current;
    std::optional<Call> held;  // the call on hold in the background
    bool recording = false;
    uint8_t lastSequence = 0;  // of the last queued request carried out
    uint32_t flags() const;
};

struct SwitchboardConfig {
    int32_t firstFreeId = 100;            // identifiers handed to stations registering with -1
    std::optional<uint32_t> hostAddress;  // else the source of the registration
};

class Switchboard {
public:
    explicit Switchboard(SwitchboardConfig config) : config_(config) {}

    // A datagram that reached the station port from `source` (host order).
    Output onDatagram(const uint8_t *data, size_t size, uint32_t source);

    // What the rest of the network does to a station.
    Output ring(int32_t station, const std::string &caller);
    Output farEndAnswers(int32_t station);
    Output farEndClears(int32_t station);
    Output display(int32_t station, const std::string &text);
    Output setExtension(int32_t extension, uint8_t status);
    Output park(const std::string &peer);

    bool isRegistered(int32_t station) const { return stations_.count(station) != 0; }
    const Station *find(int32_t station) const;
    // A datagram from a station, for the log: "station 17 keep-alive".
    std::string describe(const uint8_t *data, size_t size) const;
    // Where station records go: the address given, else that of the first
    // registered station, else 127.0.0.1.
    uint32_t stationHost() const;

private:
    struct ParkedCall {
        uint32_t key;
        std::string peer;
    };

    Output registerStation(const station::Request &r, uint32_t source);
    Output keepAlive(const station::Request &r);
    Output queued(Station &s, const station::Request &r);
    Output newCall(Station &s, const std::string &digits);
    Output dial(Station &s, const std::string &digits);
    Output featureKey(Station &s, uint16_t code);
    Output carryOut(Station &s, const station::Request &r);
    Output pickUp(Station &s, int32_t extension, bool intrude);
    Output watch(const Station &s, const station::Request &r);
    Output resume(Station &s, uint32_t key);

    // Moves the station to `phase` and tells it; `current` becomes its call.
    void enter(Station &s, Phase phase, Output &out);
    void listCall(const Station &s, const Call &call, uint8_t state, Output &out);
    void endCurrent(Station &s, Output &out);
    Call newCallTo(const std::string &peer);
    void broadcastParkList(Output &out) const;
    void broadcastExtension(int32_t extension, Output &out) const;
    Station *byToken(uint32_t token);
    const Station *byToken(uint32_t token) const;
    Station *registered(int32_t id, Output &out);

    SwitchboardConfig config_;
    std::map<int32_t, Station> stations_;
    std::map<int32_t, uint8_t> extensions_;  // last status of every extension watched
    std::vector<ParkedCall> parked_;
    uint16_t nextCallNumber_ = 1;
    uint32_t nextParkKey_ = 701;
};

}  // namespace qsim
