#include "call_records/occurrences.h"

#include <cstring>

namespace qrecords {
namespace {

constexpr int64_t kKeptSeconds = 24 * 3600;
constexpr size_t kCleanupEvery = 4096;

// Seconds on a scale on which every month has 31 days: the order of the
// records' times, and their distance close enough for a day's window.
int64_t timeScale(const QapiCmdrRecordPayload &r) {
    return ((((int64_t{r.year} * 12 + r.month) * 31 + r.day) * 24 + r.hour) * 60 + r.minute) * 60 + r.second;
}

}  // namespace

size_t Occurrences::Hash::operator()(const RecordKey &k) const {
    size_t h = 0;
    std::memcpy(&h, k.data(), sizeof h);  // the key is a digest already
    return h;
}

uint32_t Occurrences::next(const RecordKey &key, const QapiCmdrRecordPayload &record) {
    const int64_t time = timeScale(record);
    if (time > newest_) newest_ = time;
    auto [it, fresh] = counts_.try_emplace(key, Count{0, time});
    const uint32_t number = fresh ? 0 : ++it->second.seen;
    if (++sinceCleanup_ >= kCleanupEvery) forgetOld();
    return number;
}

void Occurrences::reset() {
    counts_.clear();
    newest_ = 0;
    sinceCleanup_ = 0;
}

void Occurrences::forgetOld() {
    sinceCleanup_ = 0;
    std::erase_if(counts_, [this](const auto &entry) { return entry.second.time < newest_ - kKeptSeconds; });
}

}  // namespace qrecords
