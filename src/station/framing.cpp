#include "station/framing.h"

#include "core/wire.h"
#include "station/admission.h"

namespace qapi {

size_t stationDispatchRecords(const uint8_t *datagram, size_t size, size_t from, uint32_t localAddress,
                              const StationRecordSink &sink) {
    size_t pos = from;
    while (pos + RecordHeader::kSize <= size) {
        const uint8_t *record = datagram + pos;
        const uint32_t destination = readU32le(record + RecordHeader::kDestination);
        if (destination == kNoFurtherRecords) return size;
        const size_t length = recordLengthOf(record[RecordHeader::kLength]);
        const bool complete = length <= size - pos;
        if (complete && (destination == localAddress || destination == kBroadcast)) {
            const bool park = destination != localAddress && record[RecordHeader::kType] == kParkListType;
            const RecordRoute route = destination == localAddress ? RecordRoute::ForHost
                                      : park                      ? RecordRoute::ParkList
                                                                  : RecordRoute::Broadcast;
            auto handler = route == RecordRoute::ForHost ? sink.forHost
                           : park                        ? sink.parkList
                                                         : sink.broadcast;
            if (handler) {
                if (sink.budgeted && !stationAdmitRecord(route, record, length)) return pos;
                handler(record, length);
            }
        }
        pos += length;
    }
    return size;
}

void stationDispatchDatagram(const uint8_t *datagram, size_t size, uint32_t localAddress,
                             const StationRecordSink &sink) {
    StationRecordSink everything = sink;
    everything.budgeted = false;
    (void)stationDispatchRecords(datagram, size, 0, localAddress, everything);
}

namespace {

// Dispatches what is left of the batch in hand; false when the sink stopped
// admitting records (the rest stays for the next tick).
bool finishBatch(StationEndpoint &station, uint32_t tick, const StationRecordSink &sink) {
    while (station.batchNext < station.batchCount) {
        const int i = station.batchNext;
        // A datagram too long for its buffer is dropped and the reading goes
        // on: a flood of them from a foreign host must not hold back the
        // records behind it.  An empty one says nothing.
        if (station.sizes[i] > 0) {
            const auto size = static_cast<size_t>(station.sizes[i]);
            if (station.recordAt == 0) stationRefreshAddressIfDue(station, tick);
            station.recordAt = stationDispatchRecords(station.buffers + i * kStationBufferSize, size,
                                                      station.recordAt, station.endpoint.localAddress, sink);
            if (station.recordAt < size) return false;
        }
        station.batchNext = i + 1;
        station.recordAt = 0;
    }
    return true;
}

}  // namespace

void stationPumpDatagrams(StationEndpoint &station, uint32_t tick, const StationRecordSink &sink) {
    int read = 0;
    bool more = true;
    for (;;) {
        if (!finishBatch(station, tick, sink)) return;
        if (!more || read >= kStationDatagramsPerTick) return;
        const int want =
            kStationDatagramsPerTick - read < kStationBatch ? kStationDatagramsPerTick - read : kStationBatch;
        const int n =
            receiveDatagrams(station.endpoint, station.buffers, kStationBufferSize, want, station.sizes);
        // Nothing waiting, or an error, ends the reading.
        if (n <= 0) return;
        station.batchCount = n;
        station.batchNext = 0;
        station.recordAt = 0;
        read += n;
        // A batch that is not full took everything that was waiting.
        more = n == want;
    }
}

}  // namespace qapi
