// The benchmark's other end of the broker (rabbitmq-c, blocking calls: it
// runs alone in its process).
//
//   bench_peer consume URL QUEUE COUNT [SAVE]   takes COUNT messages of QUEUE;
//       prints "ready" once it consumes, then, as JSON, the receipt times of the first and the last, and
//       the latency of each from the time in its body to its receipt
//       (median, 99th percentile, most); SAVE keeps every routing key and
//       body for the bare publisher.
//   bench_peer publish URL SAVE WINDOW          publishes the saved messages
//       to quentara.events as the bridge does (persistent, the same
//       properties), in confirm mode with at most WINDOW unconfirmed;
//       prints the seconds until the last was confirmed.
#include <amqp.h>
#include <amqp_tcp_socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

int64_t nowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void check(amqp_rpc_reply_t r, const char *what) {
    if (r.reply_type != AMQP_RESPONSE_NORMAL) throw std::runtime_error(std::string("failed: ") + what);
}

amqp_connection_state_t connect(const char *url) {
    std::vector<char> text(url, url + std::strlen(url) + 1);
    amqp_connection_info info;
    amqp_default_connection_info(&info);
    if (amqp_parse_url(text.data(), &info) != AMQP_STATUS_OK) throw std::runtime_error("bad URL");
    amqp_connection_state_t c = amqp_new_connection();
    amqp_socket_t *s = amqp_tcp_socket_new(c);
    if (amqp_socket_open(s, info.host, info.port) != AMQP_STATUS_OK)
        throw std::runtime_error("cannot connect");
    check(amqp_login(c, "/", 0, 131072, 0, AMQP_SASL_METHOD_PLAIN, info.user, info.password), "login");
    amqp_channel_open(c, 1);
    check(amqp_get_rpc_reply(c), "channel");
    return c;
}

// "time":"2024-05-17T10:30:00.123456Z" of a body, in microseconds.
int64_t bodyTime(const std::string &body) {
    const size_t at = body.find("\"time\":\"");
    if (at == std::string::npos || body.size() < at + 8 + 27) return 0;
    std::tm tm{};
    const char *t = body.c_str() + at + 8;
    int micro = 0;
    if (std::sscanf(t, "%4d-%2d-%2dT%2d:%2d:%2d.%6dZ", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                    &tm.tm_min, &tm.tm_sec, &micro) != 7)
        return 0;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return int64_t{timegm(&tm)} * 1000000 + micro;
}

int consume(const char *url, const char *queue, long count, const char *save) {
    amqp_connection_state_t c = connect(url);
    amqp_basic_qos(c, 1, 0, 4096, 0);
    amqp_basic_consume(c, 1, amqp_cstring_bytes(queue), amqp_empty_bytes, 0, 1, 0, amqp_empty_table);
    check(amqp_get_rpc_reply(c), "consume");
    std::printf("ready\n");
    std::fflush(stdout);
    std::ofstream out;
    if (save) out.open(save, std::ios::binary);
    std::vector<int64_t> latencies;
    latencies.reserve(static_cast<size_t>(count));
    int64_t first = 0, last = 0;
    for (long n = 0; n < count; ++n) {
        amqp_envelope_t e;
        amqp_maybe_release_buffers(c);
        check(amqp_consume_message(c, &e, nullptr, 0), "receive");
        last = nowUs();
        if (n == 0) first = last;
        const std::string body(static_cast<const char *>(e.message.body.bytes), e.message.body.len);
        const std::string key(static_cast<const char *>(e.routing_key.bytes), e.routing_key.len);
        if (const int64_t sent = bodyTime(body)) latencies.push_back(last - sent);
        if (save) {
            const uint32_t sizes[2] = {static_cast<uint32_t>(key.size()), static_cast<uint32_t>(body.size())};
            out.write(reinterpret_cast<const char *>(sizes), sizeof sizes);
            out << key << body;
        }
        amqp_destroy_envelope(&e);
    }
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](size_t percent) {
        return latencies.empty()
                   ? 0
                   : latencies[std::min(latencies.size() - 1, latencies.size() * percent / 100)];
    };
    std::printf(
        "{\"count\": %ld, \"first_us\": %lld, \"last_us\": %lld, \"median_us\": %lld, \"p99_us\": %lld, "
        "\"max_us\": %lld}\n",
        count, static_cast<long long>(first), static_cast<long long>(last), static_cast<long long>(at(50)),
        static_cast<long long>(at(99)), static_cast<long long>(latencies.empty() ? 0 : latencies.back()));
    amqp_destroy_connection(c);
    return 0;
}

int publish(const char *url, const char *save, long window) {
    std::ifstream in(save, std::ios::binary);
    std::vector<std::pair<std::string, std::string>> messages;
    uint32_t sizes[2];
    while (in.read(reinterpret_cast<char *>(sizes), sizeof sizes)) {
        std::string key(sizes[0], '\0'), body(sizes[1], '\0');
        in.read(key.data(), static_cast<std::streamsize>(key.size()));
        in.read(body.data(), static_cast<std::streamsize>(body.size()));
        messages.emplace_back(std::move(key), std::move(body));
    }
    amqp_connection_state_t c = connect(url);
    amqp_confirm_select(c, 1);
    check(amqp_get_rpc_reply(c), "confirm");
    const auto started = std::chrono::steady_clock::now();
    uint64_t published = 0, confirmed = 0;
    const auto takeAcks = [&](bool wait) {
        amqp_frame_t f;
        timeval zero{0, 0};
        while (amqp_simple_wait_frame_noblock(c, &f, wait ? nullptr : &zero) == AMQP_STATUS_OK) {
            if (f.frame_type == AMQP_FRAME_METHOD && f.payload.method.id == AMQP_BASIC_ACK_METHOD) {
                const auto *ack = static_cast<amqp_basic_ack_t *>(f.payload.method.decoded);
                confirmed = ack->multiple ? ack->delivery_tag : std::max(confirmed, ack->delivery_tag);
            }
            wait = false;
        }
    };
    for (size_t i = 0; i < messages.size(); ++i) {
        while (published - confirmed >= static_cast<uint64_t>(window)) takeAcks(true);
        amqp_basic_properties_t p{};
        p._flags = AMQP_BASIC_CONTENT_TYPE_FLAG | AMQP_BASIC_DELIVERY_MODE_FLAG | AMQP_BASIC_MESSAGE_ID_FLAG |
                   AMQP_BASIC_TYPE_FLAG | AMQP_BASIC_TIMESTAMP_FLAG;
        p.content_type = amqp_cstring_bytes("application/json");
        p.delivery_mode = 2;
        const std::string id = "bench." + std::to_string(i);
        p.message_id = amqp_cstring_bytes(id.c_str());
        p.type = amqp_cstring_bytes("quentara.extension.status");
        p.timestamp = static_cast<uint64_t>(nowUs() / 1000000);
        const auto &[key, body] = messages[i];
        if (amqp_basic_publish(c, 1, amqp_cstring_bytes("quentara.events"),
                               amqp_bytes_t{key.size(), const_cast<char *>(key.data())}, 0, 0, &p,
                               amqp_bytes_t{body.size(), const_cast<char *>(body.data())}) != AMQP_STATUS_OK)
            throw std::runtime_error("publish");
        if (++published % 256 == 0) {
            takeAcks(false);
            amqp_maybe_release_buffers(c);
        }
    }
    while (confirmed < published) takeAcks(true);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("{\"count\": %zu, \"seconds\": %.3f}\n", messages.size(), seconds);
    amqp_destroy_connection(c);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    try {
        if (argc >= 5 && std::strcmp(argv[1], "consume") == 0)
            return consume(argv[2], argv[3], std::atol(argv[4]), argc > 5 ? argv[5] : nullptr);
        if (argc == 5 && std::strcmp(argv[1], "publish") == 0)
            return publish(argv[2], argv[3], std::atol(argv[4]));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_peer: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: bench_peer consume URL QUEUE COUNT [SAVE] | publish URL SAVE WINDOW\n");
    return 2;
}
