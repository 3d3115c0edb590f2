// qapi-bridge: one call server's site on RabbitMQ.  See --help and the
// README.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "bridge/bridge.h"
#include "bridge/event.h"
#include "bridge/options.h"

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void onSignal(int signal) { stopSignal = signal; }

void say(const std::string &line) {
    std::printf("%s qapi-bridge: %s\n", qbridge::utcText(qbridge::wallClockUs()).c_str(), line.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv) {
    qbridge::Options options;
    try {
        options = qbridge::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qapi-bridge: %s\n", e.what());
        return 1;
    }
    // The password is read: process listings need not show it.
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "amqp", 4) == 0 || std::strncmp(argv[i], "--amqp=", 7) == 0)
            qbridge::hidePassword(argv[i]);
    if (options.help) {
        std::fputs(qbridge::kUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("qapi-bridge %s\n", QAPI_BRIDGE_VERSION);
        return 0;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    try {
        qbridge::Bridge bridge(options, say);
        const int status = bridge.run(stopSignal);
        say(std::string("ended by ") + (stopSignal == SIGINT ? "SIGINT" : "SIGTERM"));
        return status;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qapi-bridge: %s\n", e.what());
        return 1;
    }
}
