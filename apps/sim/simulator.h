// The simulator: the sides chosen on the command line, the switchboard, and
// the commands of the script and of stdin, run in order in one poll loop.
#pragma once

#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "sim/adjunct_server.h"
#include "sim/feed_server.h"
#include "sim/options.h"
#include "sim/script.h"
#include "sim/station_server.h"
#include "sim/switchboard.h"

namespace qsim {

class Simulator {
public:
    using Clock = std::chrono::steady_clock;

    // Opens every side asked for; throws std::runtime_error when one fails.
    explicit Simulator(const Options &options);
    void queue(Command command) { commands_.push_back(std::move(command)); }
    // Runs until "quit", the time limit, or a signal.  Returns the exit code.
    int run();

private:
    // Runs queued commands until one has to wait.
    void runCommands();
    // False while the command has to wait.
    bool execute(const Command &c);
    bool stationCommand(const Command &c);
    void readStdin();

    Switchboard board_;
    std::unique_ptr<StationServer> station_;
    std::unique_ptr<FeedServer> feed_;
    std::unique_ptr<AdjunctServer> adjunct_;
    std::deque<Command> commands_;
    std::optional<Clock::time_point> sleepUntil_;
    std::optional<Clock::time_point> deadline_;
    bool stdinOpen_ = true;
    std::string stdinLine_;
    bool quit_ = false;
};

}  // namespace qsim
