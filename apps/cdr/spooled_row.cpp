#include "cdr/spooled_row.h"

#include <algorithm>
#include <cstring>

namespace qcdr {
namespace {

constexpr uint8_t kVersion = 1;
constexpr size_t kLongestServer = 1024;
constexpr size_t kFixed = 1 + 4 + 8 + 2;  // version, occurrence, time received, the name's length

void put(std::string &out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * i));
}

uint64_t get(std::string_view in, size_t at, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v |= uint64_t{static_cast<unsigned char>(in[at + static_cast<size_t>(i)])} << (8 * i);
    return v;
}

}  // namespace

size_t spoolEntryBytes(size_t serverLength) {
    return kFixed + std::min(serverLength, kLongestServer) + sizeof(RecordKey) +
           sizeof(QapiCmdrRecordPayload);
}

std::string spoolEntry(const Row &row) {
    std::string body;
    const size_t server = std::min(row.server.size(), kLongestServer);
    body.reserve(spoolEntryBytes(server));
    body += static_cast<char>(kVersion);
    put(body, row.occurrence, 4);
    put(body, static_cast<uint64_t>(row.receivedUs), 8);
    put(body, server, 2);
    body.append(row.server, 0, server);
    body.append(reinterpret_cast<const char *>(row.key.data()), row.key.size());
    body.append(reinterpret_cast<const char *>(&row.record), sizeof row.record);
    return body;
}

bool spoolRow(std::string_view body, Row &row) {
    if (body.size() < kFixed || static_cast<uint8_t>(body[0]) != kVersion) return false;
    const auto server = static_cast<size_t>(get(body, 13, 2));
    if (body.size() != spoolEntryBytes(server) || server > kLongestServer) return false;
    row.occurrence = static_cast<uint32_t>(get(body, 1, 4));
    row.receivedUs = static_cast<int64_t>(get(body, 5, 8));
    row.server = body.substr(kFixed, server);
    std::memcpy(row.key.data(), body.data() + kFixed + server, row.key.size());
    std::memcpy(&row.record, body.data() + kFixed + server + row.key.size(), sizeof row.record);
    return true;
}

}  // namespace qcdr
