#include "sim/simulator.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "sim/isolation.h"

namespace qsim {
namespace {

constexpr int kPollMs = 50;  // how often waits and the time limit are looked at

SwitchboardConfig boardConfig(const Options &o) {
    SwitchboardConfig c;
    c.firstFreeId = o.firstFreeId;
    c.hostAddress = o.hostAddress;
    return c;
}

}  // namespace

Simulator::Simulator(const Options &o) : board_(boardConfig(o)) {
    if (o.stationPort) {
        const std::string foreign = foreignInterfaces();
        if (!foreign.empty() && !o.multicastAnywhere) {
            throw std::runtime_error("refusing to multicast: this network namespace has " + foreign +
                                     " (run inside a namespace of loopback and qt* interfaces only, or"
                                     " give --i-know-this-multicasts-on-my-network)");
        }
        station_ = std::make_unique<StationServer>(*o.stationPort, board_, o.faults, o.faultSeed);
    }
    if (o.feedPort) {
        FeedConfig feed;
        feed.perPoll = o.recordsPerPoll;
        feed.stock = o.feedStock;
        feed.chunk = o.feedChunk;
        feed.mss = o.feedMss;
        feed.seed = o.faultSeed;
        feed_ = std::make_unique<FeedServer>(o.listenAddress, *o.feedPort, feed);
    }
    if (o.adjunctPort) adjunct_ = std::make_unique<AdjunctServer>(o.listenAddress, *o.adjunctPort);
    if (o.seconds) deadline_ = Clock::now() + std::chrono::seconds(*o.seconds);
}

int Simulator::run() {
    say("ready");
    while (!quit_) {
        runCommands();
        if (quit_ || (deadline_ && Clock::now() >= *deadline_)) break;
        int waitMs = kPollMs;
        if (station_) {
            const int due = station_->release();
            if (due >= 0 && due < waitMs) waitMs = due;
        }
        std::vector<Watched> watched;
        if (station_) watched.push_back(station_->watched());
        if (feed_) feed_->collect(watched);
        if (adjunct_) adjunct_->collect(watched);
        if (stdinOpen_) watched.push_back({STDIN_FILENO, [this] { readStdin(); }});
        std::vector<pollfd> fds;
        for (const Watched &w : watched)
            fds.push_back({w.fd, static_cast<short>(POLLIN | (w.writable ? POLLOUT : 0)), 0});
        if (::poll(fds.data(), fds.size(), waitMs) < 0 && errno != EINTR)
            throw std::runtime_error("poll failed");
        for (size_t i = 0; i < fds.size(); ++i) {
            if ((fds[i].revents & POLLOUT) && watched[i].writable) watched[i].writable();
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) watched[i].ready();
        }
    }
    if (station_) station_->logFaults();
    say("end");
    return 0;
}

void Simulator::readStdin() {
    char bytes[512];
    const ssize_t n = ::read(STDIN_FILENO, bytes, sizeof bytes);
    if (n <= 0) {
        stdinOpen_ = false;  // the script and the sides go on
        return;
    }
    for (ssize_t i = 0; i < n; ++i) {
        if (bytes[i] != '\n') {
            stdinLine_ += bytes[i];
            continue;
        }
        try {
            if (auto c = parseCommand(stdinLine_)) queue(std::move(*c));
        } catch (const std::invalid_argument &e) {
            say(std::string("stdin: ") + e.what());
        }
        stdinLine_.clear();
    }
}

void Simulator::runCommands() {
    while (!commands_.empty() && !quit_) {
        if (!execute(commands_.front())) return;
        commands_.pop_front();
    }
}

bool Simulator::execute(const Command &c) {
    const std::string &v = c.verb;
    auto served = [&](bool side, const char *name) {
        if (!side)
            say(std::string("\"") + v + "\" needs the " + name + " side, which is not served: skipped");
        return side;
    };
    if (v == "sleep") {
        if (!sleepUntil_) sleepUntil_ = Clock::now() + std::chrono::seconds(c.integer(0));
        if (Clock::now() < *sleepUntil_) return false;
        sleepUntil_.reset();
    } else if (v == "quit") {
        quit_ = true;
    } else if (v == "wait registered") {
        return !served(station_ != nullptr, "station") || board_.isRegistered(c.integer(0));
    } else if (v == "wait adjunct") {
        return !served(adjunct_ != nullptr, "adjunct") || adjunct_->linked();
    } else if (v == "wait answered") {
        return !served(adjunct_ != nullptr, "adjunct") || adjunct_->unanswered() == 0;
    } else if (v == "wait polls") {
        return !served(feed_ != nullptr, "feed") || feed_->polls() >= static_cast<uint32_t>(c.integer(0));
    } else if (v == "records" || v == "bad-record") {
        if (!served(feed_ != nullptr, "feed")) return true;
        if (v == "records")
            feed_->addStock(static_cast<uint32_t>(c.integer(0)));
        else
            feed_->breakNext();
    } else if (v == "adjunct") {
        if (served(adjunct_ != nullptr, "adjunct")) adjunct_->behave(c.words[0]);
    } else if (v == "route") {
        if (!served(adjunct_ != nullptr, "adjunct")) return true;
        adjunct::RouteRequest r;
        r.when = DateTime{2024, 5, 17, 11, 0, 0};
        r.numberA = c.integer(0);
        r.numberB = c.integer(1);
        r.digitsA = c.words[2];
        r.digitsB = c.words[3];
        adjunct_->ask(r);
    } else if (served(station_ != nullptr, "station")) {
        return stationCommand(c);
    }
    return true;
}

bool Simulator::stationCommand(const Command &c) {
    const std::string &v = c.verb;
    if (v == "ring")
        station_->send(board_.ring(c.integer(0), c.words[1]));
    else if (v == "connect")
        station_->send(board_.farEndAnswers(c.integer(0)));
    else if (v == "hangup")
        station_->send(board_.farEndClears(c.integer(0)));
    else if (v == "display")
        station_->send(board_.display(c.integer(0), c.rest));
    else if (v == "extension")
        station_->send(board_.setExtension(c.integer(0), static_cast<uint8_t>(c.integer(1))));
    else if (v == "park")
        station_->send(board_.park(c.words[0]));
    else if (v == "faults")
        station_->setFaults(c.words[0] == "on");
    else if (v == "flood")
        station_->flood(static_cast<uint32_t>(c.integer(0)));
    return true;
}

}  // namespace qsim
