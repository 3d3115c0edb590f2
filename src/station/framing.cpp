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

void stationPumpDatagrams(StationEndpoint &station, uint32_t tick, const StationRecordSink &sink) {
    int sizes[kStationBatch];
    for (;;) {
        const int n =
            receiveDatagrams(station.endpoint, station.buffers, kStationBufferSize, kStationBatch, sizes);
        // Nothing waiting, or an error, ends the reading.
        if (n <= 0) return;
        for (int i = 0; i < n; ++i) {
            // A datagram too long for its buffer is dropped and the reading
            // goes on: a flood of them from a foreign host must not hold back
            // the records behind it.  An empty one says nothing.
            if (sizes[i] <= 0) continue;
            stationRefreshAddressIfDue(station, tick);
            stationDispatchDatagram(station.buffers + i * kStationBufferSize, static_cast<size_t>(sizes[i]),
                                    station.endpoint.localAddress, sink);
        }
        // A batch that is not full took everything that was waiting.
        if (n < kStationBatch) return;
    }
}

}  // namespace qapi
