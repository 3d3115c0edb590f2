// qapi-sim: a call-server simulator for QapiDll (station protocol,
// call-record feed, routing adjunct).  See --help.
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/simulator.h"

namespace {

// Every command of the script file, checked before anything starts.
std::vector<qsim::Command> loadScript(const std::string &path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read the script " + path);
    std::vector<qsim::Command> commands;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        try {
            if (auto c = qsim::parseCommand(line)) commands.push_back(std::move(*c));
        } catch (const std::invalid_argument &e) {
            throw std::runtime_error(path + ":" + std::to_string(number) + ": " + e.what());
        }
    }
    return commands;
}

}  // namespace

int main(int argc, char **argv) {
    try {
        const qsim::Options options = qsim::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
        if (options.help) {
            std::fputs(qsim::kUsage, stdout);
            return 0;
        }
        std::vector<qsim::Command> script;
        if (options.scriptFile) script = loadScript(*options.scriptFile);
        qsim::Simulator simulator(options);
        for (qsim::Command &c : script) simulator.queue(std::move(c));
        return simulator.run();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qapi-sim: %s\n", e.what());
        return 1;
    }
}
