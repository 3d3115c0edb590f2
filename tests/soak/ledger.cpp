#include "soak/ledger.h"

#include <algorithm>
#include <cstring>

namespace qapi::soak {
namespace {

constexpr char kDialChars[] = "0123456789ABCD*#";
constexpr uint64_t kFnvPrime = 0x100000001B3ULL;

uint32_t u32At(const uint8_t *p) { return qsim::getU32(p); }

// Lines are 37 characters: the number (shown for seized and camped calls),
// the two identifiers in hexadecimal nibbles (a blank for 15) and the label.
const char *labelOf(uint8_t state) {
    switch (state) {
    case 1:
    case 2:
    case 3:
    case 4:
        return "Routing        ";
    case 5:
        return "Seized         ";
    case 6:
        return "Routed         ";
    case 7:
        return "Active         ";
    case 25:
        return "Camped         ";
    default:
        return nullptr;
    }
}

void writeNibbles(char *out, uint32_t id) {
    for (int i = 0; i < 8; ++i) out[i] = "0123456789ABCDE "[(id >> (28 - 4 * i)) & 0xF];
}

// Park lines: the decimal nibbles of the key, a blank, those of the second word.
std::string parkLine(uint32_t key, uint32_t shown) {
    std::string line;
    for (uint32_t word : {key, shown}) {
        if (!line.empty()) line += ' ';
        for (int shift = 28; shift >= 0; shift -= 4) {
            const uint32_t nibble = (word >> shift) & 0xF;
            if (nibble < 10) line += static_cast<char>('0' + nibble);
        }
    }
    return line;
}

uint64_t chain(uint64_t hash, const std::string &line) { return hashOf(line.data(), line.size() + 1, hash); }

}  // namespace

const char *kindName(size_t kind) {
    static constexpr const char *kNames[kKinds] = {"texts", "numbers", "extension statuses", "call lists",
                                                   "park lists"};
    return kNames[kind];
}

uint64_t hashOf(const void *bytes, size_t size, uint64_t seed) {
    uint64_t h = seed ^ 0xCBF29CE484222325ULL;
    for (size_t i = 0; i < size; ++i) h = (h ^ static_cast<const uint8_t *>(bytes)[i]) * kFnvPrime;
    return h;
}

uint64_t hashOfText(const char *text) { return hashOf(text, strnlen(text, 128)); }

uint64_t hashOfLines(const char *const *lines) {
    uint64_t h = 0;
    for (size_t i = 0; i < 33 && lines[i]; ++i) h = chain(h, std::string(lines[i], strnlen(lines[i], 128)));
    return h;
}

bool CallListModel::take(const Entry &entry) {
    Entry *slot = nullptr;
    for (Entry &e : slots) {
        if (e.state != 0 && e.number == entry.number) {
            slot = &e;
            break;
        }
    }
    if (!slot) {
        if (entry.firstId == 0xFFFFFFFF && entry.secondId == 0xFFFFFFFF) return false;
        for (Entry &e : slots) {
            if (e.state == 0) {
                slot = &e;
                break;
            }
        }
        if (!slot) return false;
    }
    *slot = entry;
    return true;
}

uint64_t CallListModel::hashOfLines() {
    uint64_t h = 0;
    for (Entry &e : slots) {
        const char *label = labelOf(e.state);
        if (!label) {
            e = Entry{};
            continue;
        }
        std::string line(37, ' ');
        if (e.state == 5 || e.state == 25) {
            unsigned n = e.number;
            for (size_t i = 4; i-- > 0; n /= 10) line[i] = static_cast<char>('0' + n % 10);
        }
        writeNibbles(&line[5], e.firstId);
        writeNibbles(&line[14], e.secondId);
        line.replace(22, 15, label);
        h = chain(h, line);
    }
    return h;
}

void Ledger::take(const uint8_t *record, size_t length, uint32_t host) {
    const uint32_t destination = u32At(record);
    const uint8_t type = record[4];
    const uint8_t lengthByte = record[7];
    if (destination == 0xFFFFFFFF && type == 0xC5) {
        const size_t count =
            std::min<size_t>({lengthByte > 3 ? (lengthByte - 1u) / 3 : 0, 32, (length - 8) / 12});
        const qsim::Bytes entries(record + 8, record + 8 + 12 * count);
        const bool changed = entries != lastParkEntries;
        lastParkEntries = entries;
        uint64_t h = 0;
        for (size_t i = 0; i < count; ++i)
            h = chain(h, parkLine(u32At(&entries[12 * i]), u32At(&entries[12 * i + 4])));
        for (ClientLedger &c : clients) {
            if (!changed && c.hadParkList) continue;
            c.hadParkList = true;
            c.caused[kParkList].add(h);
        }
        return;
    }
    if (destination == 0xFFFFFFFF && type == 0xC3 && length >= 12) {
        const int32_t status[2] = {static_cast<int32_t>(u32At(record + 8)), record[6]};
        for (ClientLedger &c : clients) {
            if (!c.registered) continue;
            const bool watched =
                c.alsoWatched == status[0] ||
                std::find(std::begin(c.watched), std::end(c.watched), status[0]) != std::end(c.watched);
            if (watched) c.caused[kExtension].add(hashOf(status, sizeof status));
        }
        return;
    }
    if (destination != host || length < 12) return;
    ClientLedger *c = of(static_cast<int32_t>(u32At(record + 8)));
    if (!c) return;
    if (type == 0x81) c->registered = true;
    if (!c->registered) return;
    if (type == 0xC2 && length >= 40 && record[6] == 0) {  // a number: the dial characters of 28 codes
        char text[29] = {};
        for (size_t i = 0; i < 28 && record[12 + i] <= 15; ++i) text[i] = kDialChars[record[12 + i]];
        c->caused[kNumber].add(hashOfText(text));
    } else if (type == 0xC8 && lengthByte == 10 && length >= 44) {  // a display text of 32 characters
        char text[33] = {};
        std::memcpy(text, record + 12, 32);
        c->caused[kText].add(hashOfText(text));
    } else if (type == 0xC6) {
        const bool withIds = lengthByte != 3;
        if (length < (withIds ? 24u : 16u)) return;
        const CallListModel::Entry entry{record[5], qsim::getU16(record + 12),
                                         withIds ? u32At(record + 16) : 0xFFFFFFFF,
                                         withIds ? u32At(record + 20) : 0xFFFFFFFF};
        if (c->calls.take(entry)) c->caused[kCallList].add(c->calls.hashOfLines());
    }
}

}  // namespace qapi::soak
