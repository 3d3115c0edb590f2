#include "console/commands.h"

#include <sstream>
#include <stdexcept>

#include "console/format.h"

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
        console.print("console",
                      std::string(c.name) + (*c.arguments ? " " : "") + c.arguments + ": " + c.help);
    }
}

void quit(Console &console, const Words &) { console.quit = true; }

void start(Console &console, const Words &w) {
    long long id = 0;
    if (!toNumber(w[0], id)) return console.commandError("not a station: " + w[0]);
    console.startStation(static_cast<int32_t>(id));
}

void stop(Console &console, const Words &w) {
    long long id = 0;
    if (!toNumber(w[0], id)) return console.commandError("not a station: " + w[0]);
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
        console.commandError(e.what());
    }
}

void feed(Console &console, const Words &w) { link(console, Link::feed, w[0]); }
void adjunct(Console &console, const Words &w) { link(console, Link::adjunct, w[0]); }

void respond(Console &console, const Words &w) {
    long long request = 0, value = 0;
    if (!toNumber(w[0], request) || (w.size() > 2 && !toNumber(w[2], value))) {
        return console.commandError("respond wants a request handle and a number as value");
    }
    const char *digits = w.size() > 1 && w[1] != "-" ? w[1].c_str() : nullptr;
    console.respond(static_cast<uint32_t>(request), digits, static_cast<int32_t>(value));
}

// The station named by a word, or null (reported).
StationEntry *stationOf(Console &console, const std::string &word) {
    long long id = 0;
    StationEntry *s = toNumber(word, id) ? console.station(static_cast<int32_t>(id)) : nullptr;
    if (!s) console.commandError("no station " + word);
    return s;
}

void report(Console &console, const StationEntry &s, const char *what, int result) {
    console.result(Source::station(s.id), what, result == 0);
}

// Operations with a text: the digits, number or deflection target.
void onStationText(Console &console, const Words &w, const char *what,
                   int (*call)(QapiHandle, const char *)) {
    if (StationEntry *s = stationOf(console, w[0])) {
        report(console, *s, what, call(s->handle, w.size() > 1 ? w[1].c_str() : nullptr));
    }
}

// Operations on an extension or a park key.
void onStationNumber(Console &console, const Words &w, const char *what, int (*call)(QapiHandle, int32_t)) {
    long long n = 0;
    if (!toNumber(w[1], n)) return console.commandError(what + std::string(" wants a number: ") + w[1]);
    if (StationEntry *s = stationOf(console, w[0]))
        report(console, *s, what, call(s->handle, static_cast<int32_t>(n)));
}

int watch(QapiHandle h, int32_t extension) { return QAPI_Client_bdp_register(h, extension, 1); }
int unwatch(QapiHandle h, int32_t extension) { return QAPI_Client_bdp_register(h, extension, 0); }

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
        // Call control.
        {"newcall", "STATION [DIGITS]", "start a call, dialing the digits if given", 1, 2,
         [](Console &c, const Words &w) { onStationText(c, w, "newcall", QAPI_Client_newcall); }},
        {"digits", "STATION DIGITS", "dial further digits", 2, 2,
         [](Console &c, const Words &w) { onStationText(c, w, "digits", QAPI_Client_digits); }},
        {"answer", "STATION", "answer the ringing call", 1, 1,
         [](Console &c, const Words &w) { onStation(c, w[0], "answer", QAPI_Client_answer); }},
        {"clear", "STATION", "clear the call", 1, 1,
         [](Console &c, const Words &w) { onStation(c, w[0], "clear", QAPI_Client_clear); }},
        {"hold", "STATION", "hold the call", 1, 1,
         [](Console &c, const Words &w) { onStation(c, w[0], "hold", QAPI_Client_hold); }},
        {"retrieve", "STATION", "retrieve the held call", 1, 1,
         [](Console &c, const Words &w) { onStation(c, w[0], "retrieve", QAPI_Client_retrieve); }},
        {"callback", "STATION", "ask for a call back", 1, 1,
         [](Console &c, const Words &w) { onStation(c, w[0], "callback", QAPI_Client_callb); }},
        {"suspend", "STATION", "park the call", 1, 1,
         [](Console &c, const Words &w) { onStation(c, w[0], "suspend", QAPI_Client_suspend); }},
        {"conference", "STATION", "join the held and the present call", 1, 1,
         [](Console &c, const Words &w) { onStation(c, w[0], "conference", QAPI_Client_conference); }},
        {"transfer", "STATION", "connect the held and the present call", 1, 1,
         [](Console &c, const Words &w) { onStation(c, w[0], "transfer", QAPI_Client_transfer); }},
        {"record-start", "STATION", "start recording the call", 1, 1,
         [](Console &c, const Words &w) { onStation(c, w[0], "record-start", QAPI_Client_record_start); }},
        {"record-stop", "STATION", "stop recording the call", 1, 1,
         [](Console &c, const Words &w) { onStation(c, w[0], "record-stop", QAPI_Client_record_stop); }},
        {"mailbox", "STATION", "call the mailbox", 1, 1,
         [](Console &c, const Words &w) { onStation(c, w[0], "mailbox", QAPI_Client_mailbox); }},
        {"take-back", "STATION NUMBER", "take back a call of the call list", 2, 2,
         [](Console &c, const Words &w) { onStationText(c, w, "take-back", QAPI_Client_transfer_undo); }},
        {"deflect", "STATION DIGITS", "deflect the call to another number", 2, 2,
         [](Console &c, const Words &w) { onStationText(c, w, "deflect", QAPI_Client_deflect); }},
        // Busy-lamp panel and parked calls.
        {"watch", "STATION EXTENSION", "watch an extension's busy state", 2, 2,
         [](Console &c, const Words &w) { onStationNumber(c, w, "watch", watch); }},
        {"unwatch", "STATION EXTENSION", "stop watching an extension", 2, 2,
         [](Console &c, const Words &w) { onStationNumber(c, w, "unwatch", unwatch); }},
        {"pickup", "STATION EXTENSION", "answer a watched extension's ringing call", 2, 2,
         [](Console &c, const Words &w) { onStationNumber(c, w, "pickup", QAPI_Client_bdp_answer); }},
        {"intrude", "STATION EXTENSION", "intrude on a watched extension's call", 2, 2,
         [](Console &c, const Words &w) { onStationNumber(c, w, "intrude", QAPI_Client_bdp_intrude); }},
        {"resume", "STATION KEY", "take a parked call", 2, 2,
         [](Console &c, const Words &w) { onStationNumber(c, w, "resume", QAPI_Client_resume); }},
    };
    return table;
}

void onStation(Console &console, const std::string &word, const char *what, int (*call)(QapiHandle)) {
    if (StationEntry *s = stationOf(console, word)) report(console, *s, what, call(s->handle));
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
            return console.commandError("usage: " + name + (*c.arguments ? " " : "") + c.arguments);
        }
        return c.run(console, words);
    }
    console.commandError("unknown command " + quoted(name.c_str()) + " (help lists them)");
}

}  // namespace qconsole
