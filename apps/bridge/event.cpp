#include "bridge/event.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "bridge/json_out.h"
#include "wall_clock/wall_clock.h"

namespace qbridge {
namespace {

// Entry layout: a version byte, epoch and seq (8 bytes each), time (8),
// then routing key, type and message id (2-byte length each) and the body
// (4-byte length).  Integers little-endian.
constexpr uint8_t kVersion = 1;

void put(std::string &out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * i));
}

void putText(std::string &out, std::string_view text, int lengthBytes) {
    put(out, text.size(), lengthBytes);
    out += text;
}

class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}
    bool number(uint64_t &v, size_t bytes) {
        if (bytes_.size() - at_ < bytes) return false;
        v = 0;
        for (size_t i = 0; i < bytes; ++i)
            v |= uint64_t{static_cast<unsigned char>(bytes_[at_ + i])} << (8 * i);
        at_ += bytes;
        return true;
    }
    bool text(std::string &out, size_t lengthBytes) {
        uint64_t length = 0;
        if (!number(length, lengthBytes) || bytes_.size() - at_ < length) return false;
        out.assign(bytes_.substr(at_, length));
        at_ += length;
        return true;
    }
    bool done() const { return at_ == bytes_.size(); }

private:
    std::string_view bytes_;
    size_t at_ = 0;
};

}  // namespace

std::string encodeEvent(const Event &e) {
    std::string out;
    out.reserve(40 + e.routingKey.size() + e.type.size() + e.messageId.size() + e.body.size());
    put(out, kVersion, 1);
    put(out, static_cast<uint64_t>(e.epoch), 8);
    put(out, e.seq, 8);
    put(out, static_cast<uint64_t>(e.timeUs), 8);
    putText(out, e.routingKey, 2);
    putText(out, e.type, 2);
    putText(out, e.messageId, 2);
    putText(out, e.body, 4);
    return out;
}

bool decodeEvent(std::string_view bytes, Event &e) {
    Reader r(bytes);
    uint64_t version = 0, epoch = 0, time = 0;
    if (!r.number(version, 1) || version != kVersion || !r.number(epoch, 8) || !r.number(e.seq, 8) ||
        !r.number(time, 8) || !r.text(e.routingKey, 2) || !r.text(e.type, 2) || !r.text(e.messageId, 2) ||
        !r.text(e.body, 4))
        return false;
    e.epoch = static_cast<int64_t>(epoch);
    e.timeUs = static_cast<int64_t>(time);
    return r.done();
}

std::string utcText(int64_t us) { return qtools::utcText(us, 6); }

int64_t wallClockUs() { return qtools::wallClockUs(); }

Event EventMaker::make(std::string_view kind, std::string_view id, std::string_view event,
                       std::string_view data, std::string messageId) {
    Event e;
    e.epoch = epoch_;
    e.seq = ++seq_;
    e.timeUs = wallClockUs();
    e.routingKey.append(site_).append(".").append(kind).append(".").append(id).append(".").append(event);
    e.type.append("quentara.").append(kind).append(".").append(event);
    e.messageId = messageId.empty() ? site_ + "." + std::to_string(epoch_) + "." + std::to_string(e.seq)
                                    : std::move(messageId);
    JsonWriter body;
    body.beginObject()
        .text("site", site_)
        .text("kind", kind)
        .text("id", id)
        .text("event", event)
        .number("epoch", epoch_)
        .unsignedNumber("seq", e.seq)
        .text("time", utcText(e.timeUs))
        .raw("data", data)
        .endObject();
    e.body = body.take();
    return e;
}

}  // namespace qbridge
