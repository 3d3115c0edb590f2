#include "sim/station_server.h"

#include <algorithm>

#include "sim/station_wire.h"

namespace qsim {
namespace {

constexpr size_t kStationBuffer = 1024;  // what a station reads of one datagram
constexpr int32_t kNobody = 999999;      // a station no client runs

// Display texts for every station in `ids` at `host`, back to back.
Bytes displays(uint32_t host, const std::vector<int32_t> &ids, const std::string &text, size_t atLeast) {
    Bytes b;
    while (b.size() < atLeast) {
        for (int32_t id : ids) {
            const Bytes r = station::displayText(host, id, text);
            b.insert(b.end(), r.begin(), r.end());
        }
    }
    return b;
}

}  // namespace

StationServer::StationServer(uint16_t port, Switchboard &board, const FaultSettings &faults, uint32_t seed)
    : port_(port),
      group_(parseIpv4(kStationGroup)),
      board_(board),
      socket_(groupSocket(kStationGroup, port)),
      faults_(faults),
      in_(
          "in",
          [this](const FaultyPath::Datagram &d) {
              send(board_.onDatagram(d.bytes.data(), d.bytes.size(), d.address));
          },
          seed),
      out_(
          "out", [this](const FaultyPath::Datagram &d) { sendTo(socket_.fd(), d.bytes, group_, port_); },
          seed + 1),
      floodRandom_(seed + 2) {
    say("station protocol on " + std::string(kStationGroup) + " port " + std::to_string(port));
    setFaults(true);
}

Watched StationServer::watched() {
    return {socket_.fd(), [this] { drain(); }};
}

void StationServer::setFaults(bool on) {
    const FaultSettings settings = on ? faults_ : FaultSettings{};
    in_.configure(settings);
    out_.configure(settings);
    if (faults_.any()) say("faults on the station path: " + settings.text());
}

int StationServer::release() {
    in_.release();
    out_.release();
    const int in = in_.msUntilDue(), out = out_.msUntilDue();
    return in < 0 ? out : out < 0 ? in : std::min(in, out);
}

void StationServer::drain() {
    for (;;) {
        uint32_t source = 0;
        uint16_t sourcePort = 0;
        Bytes datagram = receiveFrom(socket_.fd(), source, sourcePort);
        if (datagram.empty()) return;
        const std::string what = board_.describe(datagram.data(), datagram.size());
        in_.pass({std::move(datagram), source}, what);
    }
}

void StationServer::send(const Output &out) {
    for (const std::string &line : out.notes) say(line);
    if (!out.datagram.empty()) out_.pass({out.datagram, group_}, station::recordText(out.datagram));
}

void StationServer::flood(uint32_t count) {
    const uint32_t host = board_.stationHost();
    std::vector<int32_t> ids;
    for (int32_t id = 1; id < 1000 && ids.size() < 64; ++id) {
        if (board_.isRegistered(id)) ids.push_back(id);
    }
    if (ids.empty()) ids.push_back(kNobody);
    auto between = [this](size_t least, size_t most) {
        return std::uniform_int_distribution<size_t>(least, most)(floodRandom_);
    };
    uint32_t kinds[4] = {};
    for (uint32_t i = 0; i < count; ++i) {
        Bytes d;
        switch (i % 4) {
        case 0:  // records for this host's stations, too long to be read whole
            d = displays(host, ids, "FLOOD", between(kStationBuffer + 1, 4 * kStationBuffer));
            break;
        case 1:  // the same records addressed to another host
            d = displays(host + 1, ids, "FOREIGN", between(44, kStationBuffer));
            break;
        case 2:  // records for a station this host does not run
            d = displays(host, {kNobody}, "NOBODY", between(44, kStationBuffer));
            break;
        default:  // random bytes
            d.resize(between(1, kStationBuffer));
            for (uint8_t &b : d) b = static_cast<uint8_t>(floodRandom_());
            break;
        }
        ++kinds[i % 4];
        sendTo(socket_.fd(), d, group_, port_);
    }
    say("flood: " + std::to_string(count) + " datagrams: " + std::to_string(kinds[0]) + " oversize, " +
        std::to_string(kinds[1]) + " for another host, " + std::to_string(kinds[2]) + " for no station, " +
        std::to_string(kinds[3]) + " garbage");
}

void StationServer::logFaults() const {
    if (!faults_.any()) return;
    say("faults " + in_.summary());
    say("faults " + out_.summary());
}

}  // namespace qsim
