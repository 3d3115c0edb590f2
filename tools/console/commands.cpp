#include "console/commands.h"

#include <sstream>
#include <stdexcept>

namespace qconsole {
namespace {

bool toNumber(const std::string &word, long long &out) {
    try {
        size_t used = 0;
        out = std::stoll(word, &used, 0);  // decimal, or 0x... for handles
        return used == word.size();
    } catch (const std::exception &) {
        return false;
    }
}

void help(Console &console, const Words &) {
    for (const CommandSpec &c : commandTable()) {
        console.print("console", std::string(c.name) + (*c.arguments ? " " : "") + c.arguments + ": " + c.help);
    }
}

void quit(Console &console, const Words &) { console.quit = true; }

void start(Console &console, const Words &w) {
    long long id = 0;
    if (!toNumber(w[0], id)) return console.print("console", "not a station: " + w[0]);
    console.startStation(static_cast<int32_t>(id));
}

void stop(Console &console, const Words &w) {
    long long id = 0;
    if (!toNumber(w[0], id)) return console.print("console", "not a station: " + w[0]);
    console.stopStation(static_cast<int32_t>(id));
}

void link(Console &console, Link kind, const std::string &word) {
    if (word == "stop") {
        console.stopLink(kind);
        return;
    }
    try {
        console.startLink(kind, parseEndpoint(word));
    } catch (const std::invalid_argument &e) {
        console.print("console", e.what());
    }
}

void feed(Console &console, const Words &w) { link(console, Link::feed, w[0]); }
void adjunct(Console &console, const Words &w) { link(console, Link::adjunct, w[0]); }

void respond(Console &console, const Words &w) {
    long long request = 0, value = 0;
    if (!toNumber(w[0], request) || (w.size() > 2 && !toNumber(w[2], value))) {
        return console.print("console", "respond wants a request handle and a number as value");
    }
    const char *digits = w.size() > 1 && w[1] != "-" ? w[1].c_str() : nullptr;
    console.respond(static_cast<uint32_t>(request), digits, static_cast<int32_t>(value));
}

}  // namespace

const std::vector<CommandSpec> &commandTable() {
    static const std::vector<CommandSpec> table = {
        {"help", "", "list the commands", 0, 0, help},
        {"quit", "", "end the console", 0, 0, quit},
        {"start", "STATION", "start a station client (-1: the server's identifier)", 1, 1, start},
        {"stop", "STATION", "stop a station client", 1, 1, stop},
        {"feed", "HOST:PORT|stop", "open a call-record feed, or close it", 1, 1, feed},
        {"adjunct", "HOST:PORT|stop", "open a routing adjunct link, or close it", 1, 1, adjunct},
        {"respond", "HANDLE [DIGITS|-] [VALUE]", "answer a route request", 1, 3, respond},
    };
    return table;
}

void onStation(Console &console, const std::string &word, const char *what, int (*call)(QapiHandle)) {
    long long id = 0;
    StationEntry *s = toNumber(word, id) ? console.station(static_cast<int32_t>(id)) : nullptr;
    if (!s) return console.print("console", "no station " + word);
    console.result("station " + std::to_string(s->id), what, call(s->handle) == 0);
}

void runCommandLine(Console &console, const std::string &line) {
    std::istringstream in(line);
    Words words;
    for (std::string w; in >> w;) words.push_back(w);
    if (words.empty()) return;
    const std::string name = words.front();
    words.erase(words.begin());
    for (const CommandSpec &c : commandTable()) {
        if (name != c.name) continue;
        if (words.size() < c.least || words.size() > c.most) {
            return console.print("console", "usage: " + name + (*c.arguments ? " " : "") + c.arguments);
        }
        return c.run(console, words);
    }
    console.print("console", "unknown command \"" + name + "\" (help lists them)");
}

}  // namespace qconsole
