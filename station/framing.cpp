#include "station/framing.h"

#include "core/wire.h"

namespace qapi {

void stationDispatchDatagram(const uint8_t *datagram, size_t size, uint32_t localAddress,
                             const StationRecordSink &sink) {
    size_t pos = 0;
    while (pos + RecordHeader::kSize <= size) {
        const uint8_t *record = datagram + pos;
        const uint32_t destination = readU32le(record + RecordHeader::kDestination);
        if (destination == kNoFurtherRecords) return;
        const size_t length = recordLengthOf(record[RecordHeader::kLength]);
        const bool complete = length <= size - pos;
        if (complete) {
            if (destination == localAddress) {
                if (sink.forHost) sink.forHost(record, length);
            } else if (destination == kBroadcast) {
                auto handler = record[RecordHeader::kType] == kParkListType ? sink.parkList : sink.broadcast;
                if (handler) handler(record, length);
            }
        }
        pos += length;
    }
}

void stationPumpDatagrams(Endpoint &endpoint, uint8_t *buffer, int capacity, const StationRecordSink &sink) {
    for (;;) {
        const int n = receiveBytes(endpoint, buffer, capacity);
        // A datagram too long for the buffer is dropped and the reading goes
        // on: a flood of them from a foreign host must not hold back the
        // records behind it.  Nothing waiting, or an error, ends the reading.
        if (n == kReceivedTooLong) continue;
        if (n <= 0) return;
        stationDispatchDatagram(buffer, static_cast<size_t>(n), endpoint.localAddress, sink);
    }
}

}  // namespace qapi
