#include "sim/options.h"

#include "command_line/option_number.h"

#include <stdexcept>

#include "sim/sockets.h"

namespace qsim {

const char *const kUsage = R"(usage: qapi-sim [options]
A call-server simulator for QapiDll.  Each side runs only when its port is given.

Station protocol (multicast group 224.3.3.3):
  --station-port P        serve stations on UDP port P
  --host-address A        address the station records to host A (default: the
                          source address of each station's registration)
  --first-id N            identifiers for stations registering with -1 (100)
  --i-know-this-multicasts-on-my-network
                          run the station side outside a private network
                          namespace (refused otherwise)
  --loss PCT              lose PCT percent of the station datagrams, both ways
  --duplicate PCT         deliver PCT percent of them twice
  --delay MS              hold every station datagram MS milliseconds ...
  --jitter MS             ... and up to MS milliseconds more, at random
  --reorder PCT           let PCT percent go at once, past those held back
  --fault-seed N          seed of every random choice (1): faults, floods,
                          feed pieces
Call-record feed (TCP):
  --feed-port P           serve call records on port P
  --feed-records N        records in stock at the start (3)
  --records-per-poll N    records handed out per poll at most (1)
  --feed-chunk BYTES      write the records in pieces of 1 to BYTES bytes, each
                          sent at once (TCP_NODELAY)
  --feed-mss BYTES        announce segments of at most BYTES (TCP_MAXSEG, 88 up)
Routing adjunct (UDP):
  --adjunct-port P        serve the routing adjunct on port P
Common:
  --listen-address A      address of the feed and adjunct sockets (127.0.0.1)
  --script FILE           commands to run in order (also read from stdin)
  --seconds S             end after S seconds
  --help

Commands (script or stdin, one per line, # starts a comment):
  ring STATION CALLER     offer an incoming call from CALLER
  connect STATION         the party the station calls answers
  hangup STATION          the other party hangs up
  display STATION TEXT    show TEXT on the station's display
  extension EXT STATUS    broadcast the status of an extension
  park NUMBER             a call from NUMBER is parked; broadcast the park list
  route A B DIGITS-A DIGITS-B
                          ask the adjunct where to route a call from A to B
  records N               put N more call records in stock
  bad-record              break the check sum of the next record
  faults off|on           stop the station path's faults, or start them again
  flood N                 multicast N datagrams that no station should take:
                          oversize, for another host, for unknown stations,
                          garbage
  adjunct deaf|hear|vanish
                          stop hearing the adjunct link (route requests still go
                          out), hear it again, or close the socket for good
  wait registered STATION | wait adjunct | wait answered | wait polls N
                          hold the script until that has happened
  sleep SECONDS           hold the script
  quit                    end the simulator
)";

namespace {

uint32_t number(const std::string &option, const std::string &text, uint32_t least, uint32_t most) {
    return static_cast<uint32_t>(qtools::optionNumber(option, text, least, most));
}

uint16_t port(const std::string &option, const std::string &text) {
    return static_cast<uint16_t>(number(option, text, 1, 65535));
}

}  // namespace

Options parseOptions(const std::vector<std::string> &args) {
    Options o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        auto value = [&]() -> const std::string & {
            if (i + 1 >= args.size()) throw std::invalid_argument(a + " wants a value");
            return args[++i];
        };
        if (a == "--station-port")
            o.stationPort = port(a, value());
        else if (a == "--host-address")
            o.hostAddress = parseIpv4(value());
        else if (a == "--first-id")
            o.firstFreeId = static_cast<int32_t>(number(a, value(), 0, 0x7FFFFFFF));
        else if (a == "--i-know-this-multicasts-on-my-network")
            o.multicastAnywhere = true;
        else if (a == "--loss")
            o.faults.lossPercent = number(a, value(), 0, 100);
        else if (a == "--duplicate")
            o.faults.duplicatePercent = number(a, value(), 0, 100);
        else if (a == "--reorder")
            o.faults.reorderPercent = number(a, value(), 0, 100);
        else if (a == "--delay")
            o.faults.delayMs = number(a, value(), 0, 60000);
        else if (a == "--jitter")
            o.faults.jitterMs = number(a, value(), 0, 60000);
        else if (a == "--fault-seed")
            o.faultSeed = number(a, value(), 0, 0xFFFFFFFF);
        else if (a == "--feed-port")
            o.feedPort = port(a, value());
        else if (a == "--feed-records")
            o.feedStock = number(a, value(), 0, 1000000);
        else if (a == "--records-per-poll")
            o.recordsPerPoll = number(a, value(), 0, 1000000);
        else if (a == "--feed-chunk")
            o.feedChunk = number(a, value(), 1, 65536);
        else if (a == "--feed-mss")
            o.feedMss = number(a, value(), 88, 65535);
        else if (a == "--adjunct-port")
            o.adjunctPort = port(a, value());
        else if (a == "--listen-address")
            o.listenAddress = parseIpv4(value());
        else if (a == "--script")
            o.scriptFile = value();
        else if (a == "--seconds")
            o.seconds = number(a, value(), 1, 86400);
        else if (a == "--help" || a == "-h")
            o.help = true;
        else
            throw std::invalid_argument("unknown option " + a + " (see --help)");
    }
    return o;
}

}  // namespace qsim
