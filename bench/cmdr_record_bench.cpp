// The cost of one call record: the three integrity checks plus the decoding
// into a payload cut from the scratch arena, against a plain copy of the
// record's 154 bytes.  The post to the window is left out: its cost is the
// message layer's, not the record's.
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>

#include "cmdr/record.h"
#include "cmdr/wire_record.h"
#include "core/scratch.h"

namespace {

using namespace qapi;

// A full-layout record with every field in use, sealed as the server seals it.
std::array<uint8_t, kCmdrRecordSize> sampleRecord() {
    test::WireRecord r(0);
    for (size_t i = 0; i < rec::kDigitsA; ++i) r.bytes[i] = static_cast<uint8_t>(i * 7);
    r.bytes[rec::kKind] = 0;
    for (size_t i = 0; i < 20; ++i) {
        r.bytes[rec::kDigitsA + i] = static_cast<uint8_t>(i % 16);
        r.bytes[rec::kDigitsB + i] = static_cast<uint8_t>((i + 3) % 16);
        r.bytes[rec::kDigitsC + i] = static_cast<uint8_t>((i + 5) % 16);
    }
    r.u32(rec::kDateTime, test::packedDateTime(2024, 6, 15, 13, 45, 30)).u32(rec::kDurationCount, 4321);
    r.u32(rec::kAddress, 0xC0A8010A).u16(rec::kWordA, 17).u16(rec::kWordB, 42);
    return r.sealed();
}

void BM_ValidateAndDecodeRecord(benchmark::State &state) {
    const auto record = sampleRecord();
    uint8_t server[16] = {};
    const uint32_t serverAddress = 0x7F000001;
    std::memcpy(server, &serverAddress, 4);
    if (!cmdrRecordIsValid(record.data())) state.SkipWithError("sample record is not valid");
    for (auto _ : state) {
        benchmark::DoNotOptimize(record.data());
        if (!cmdrRecordIsValid(record.data())) continue;
        auto *payload = cutScratchFor<CmdrRecordPayload>();
        cmdrDecodeRecord(record.data(), server, RemoteFamily::Ipv4, *payload);
        benchmark::DoNotOptimize(payload);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ValidateAndDecodeRecord);

void BM_CopyRecord(benchmark::State &state) {
    const auto record = sampleRecord();
    std::array<uint8_t, kCmdrRecordSize> copy{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(record.data());
        std::memcpy(copy.data(), record.data(), kCmdrRecordSize);
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CopyRecord);

}  // namespace

BENCHMARK_MAIN();
