#include "bridge/broker.h"

#include <amqp_ssl_socket.h>
#include <amqp_tcp_socket.h>
#include <fcntl.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "bridge/json_out.h"

namespace qbridge {
namespace {

using namespace std::chrono_literals;

constexpr auto kConnectTimeout = 5s;
constexpr int kSetupSeconds = 5;
constexpr int kFramesPerStep = 512;  // at most 64 MiB of a command's body a step
constexpr uint16_t kPrefetch = 16;
constexpr int kFrameMax = 131072;
constexpr amqp_channel_t kEventChannel = 1, kCommandChannel = 2;
constexpr char kExchange[] = "quentara.events";
// What one publish may cost the socket's send memory besides its bytes.
constexpr size_t kFrameOverhead = 2048;

amqp_bytes_t bytes(const std::string &s) { return {s.size(), const_cast<char *>(s.data())}; }
std::string text(amqp_bytes_t b) {
    return b.bytes ? std::string(static_cast<const char *>(b.bytes), b.len) : "";
}

// Why an RPC of rabbitmq-c failed; empty when it did not.
std::string failure(amqp_rpc_reply_t r) {
    switch (r.reply_type) {
    case AMQP_RESPONSE_NORMAL:
        return "";
    case AMQP_RESPONSE_LIBRARY_EXCEPTION:
        return amqp_error_string2(r.library_error);
    case AMQP_RESPONSE_SERVER_EXCEPTION:
        if (r.reply.id == AMQP_CONNECTION_CLOSE_METHOD)
            return "the broker closed the connection: " +
                   text(static_cast<amqp_connection_close_t *>(r.reply.decoded)->reply_text);
        if (r.reply.id == AMQP_CHANNEL_CLOSE_METHOD)
            return "the broker closed a channel: " +
                   text(static_cast<amqp_channel_close_t *>(r.reply.decoded)->reply_text);
        return "the broker refused";
    default:
        return "no reply";
    }
}

}  // namespace

Broker::Broker(const Options &options, Say say)
    : options_(options), say_(std::move(say)), queue_("quentara." + options.site + ".commands") {}

Broker::~Broker() {
    release();
    for (auto &l : abandoned_) {
        const gaicb *list[] = {&l->request};
        const timespec most{1, 0};
        gai_suspend(list, 1, &most);
        if (gai_error(&l->request) == EAI_INPROGRESS) (void)l.release();  // still written into: never freed
    }
}

void Broker::release() {
    if (lookup_) {
        if (gai_error(&lookup_->request) == EAI_INPROGRESS && gai_cancel(&lookup_->request) != EAI_CANCELED) {
            abandoned_.push_back(std::move(lookup_));
        } else {
            if (lookup_->request.ar_result) freeaddrinfo(lookup_->request.ar_result);
            lookup_.reset();
        }
    }
    nextAddress_ = nullptr;
    if (connection_) {
        amqp_destroy_connection(connection_);  // closes its socket
        connection_ = nullptr;
    } else if (socket_ >= 0) {
        ::close(socket_);
    }
    socket_ = -1;
    receiving_ = false;
    replies_.clear();
}

void Broker::fail(const std::string &why) {
    const bool wasUp = state_ == State::up;
    release();
    state_ = State::down;
    failures_ = std::min(failures_ + 1, 6);
    const auto wait = std::chrono::seconds(std::min(30, 1 << (failures_ - 1)));
    nextTry_ = Clock::now() + wait;
    lost_ = lost_ || wasUp;
    // A broker that stays away is said once; each loss of a connection always.
    if (wasUp || !saidDown_)
        say_("broker " + options_.broker.shown() + " down: " + why +
             "; events go to the spool; next try in " + std::to_string(wait.count()) + " s");
    saidDown_ = true;
}

void Broker::drop(const std::string &why) {
    if (state_ == State::up) fail(why);
}

bool Broker::takeLost() { return std::exchange(lost_, false); }

void Broker::step(Clock::time_point now, BrokerEvents &events) {
    std::erase_if(abandoned_, [](const std::unique_ptr<Lookup> &l) {
        if (gai_error(&l->request) == EAI_INPROGRESS) return false;
        if (l->request.ar_result) freeaddrinfo(l->request.ar_result);
        return true;
    });
    switch (state_) {
    case State::down:
        if (now >= nextTry_) startLookup(now);
        break;
    case State::resolving: {
        const int r = gai_error(&lookup_->request);
        if (r == EAI_INPROGRESS) {
            if (now >= deadline_) fail("the name " + options_.broker.host + " was not found in time");
        } else if (r != 0) {
            fail("cannot look up " + options_.broker.host + ": " + gai_strerror(r));
        } else {
            lookupDone(now);
        }
        break;
    }
    case State::connecting: {
        pollfd p{socket_, POLLOUT, 0};
        if (::poll(&p, 1, 0) == 1) {
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) {
                connected(now);
                break;
            }
        } else if (now < deadline_) {
            break;
        }
        ::close(socket_);
        socket_ = -1;
        tryAddress(now);
        break;
    }
    case State::up:
        readFrames(events);
        if (state_ == State::up) sendReplies();
        break;
    }
}

void Broker::startLookup(Clock::time_point now) {
    if (options_.broker.tls) {
        // rabbitmq-c makes a TLS connection in one step, bounded in time.
        connection_ = amqp_new_connection();
        amqp_socket_t *s = amqp_ssl_socket_new(connection_);
        if (!s) return fail("cannot make a TLS socket");
        if (options_.caCert && amqp_ssl_socket_set_cacert(s, options_.caCert->c_str()) != AMQP_STATUS_OK)
            return fail("cannot read the certificate authorities of " + *options_.caCert);
        amqp_ssl_socket_set_verify_peer(s, options_.verifyPeer);
        amqp_ssl_socket_set_verify_hostname(s, options_.verifyPeer);
        timeval timeout{kSetupSeconds, 0};
        const int r = amqp_socket_open_noblock(s, options_.broker.host.c_str(),
                                               static_cast<int>(options_.broker.port), &timeout);
        if (r != AMQP_STATUS_OK) return fail(std::string("cannot connect: ") + amqp_error_string2(r));
        socket_ = amqp_get_sockfd(connection_);
        std::string why;
        if (!setUp(why)) fail(why);
        return;
    }
    lookup_ = std::make_unique<Lookup>();
    lookup_->hints.ai_family = AF_UNSPEC;
    lookup_->hints.ai_socktype = SOCK_STREAM;
    lookup_->port = std::to_string(options_.broker.port);
    lookup_->request.ar_name = options_.broker.host.c_str();
    lookup_->request.ar_service = lookup_->port.c_str();
    lookup_->request.ar_request = &lookup_->hints;
    gaicb *list[] = {&lookup_->request};
    if (getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr) != 0) {
        lookup_.reset();
        return fail("cannot look up " + options_.broker.host);
    }
    state_ = State::resolving;
    deadline_ = now + kConnectTimeout;
}

void Broker::lookupDone(Clock::time_point now) {
    nextAddress_ = lookup_->request.ar_result;
    tryAddress(now);
}

void Broker::tryAddress(Clock::time_point now) {
    int error = ECONNREFUSED;
    while (nextAddress_) {
        const addrinfo *a = nextAddress_;
        nextAddress_ = nextAddress_->ai_next;
        socket_ = ::socket(a->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (socket_ < 0) {
            error = errno;
            continue;
        }
        if (::connect(socket_, a->ai_addr, a->ai_addrlen) == 0) return connected(now);
        if (errno == EINPROGRESS) {
            state_ = State::connecting;
            deadline_ = now + kConnectTimeout;
            return;
        }
        error = errno;
        ::close(socket_);
        socket_ = -1;
    }
    fail("cannot connect to " + options_.broker.host + ":" + std::to_string(options_.broker.port) + ": " +
         std::strerror(error));
}

void Broker::connected(Clock::time_point) {
    if (lookup_ && lookup_->request.ar_result) freeaddrinfo(lookup_->request.ar_result);
    lookup_.reset();
    nextAddress_ = nullptr;
    const int on = 1, idle = 10, interval = 5, count = 3;
    ::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // A broker whose host vanished is noticed within about 25 s.
    ::setsockopt(socket_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(socket_, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(socket_, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(socket_, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    connection_ = amqp_new_connection();
    amqp_socket_t *s = amqp_tcp_socket_new(connection_);
    if (!s) return fail("cannot make a socket object");
    amqp_tcp_socket_set_sockfd(s, socket_);
    std::string why;
    if (!setUp(why)) fail(why);
}

bool Broker::setUp(std::string &why) {
    timeval timeout{kSetupSeconds, 0};
    amqp_set_handshake_timeout(connection_, &timeout);
    amqp_set_rpc_timeout(connection_, &timeout);
    const BrokerUrl &b = options_.broker;
    // No heartbeats: rabbitmq-c would send them with a wait; TCP's
    // keep-alive finds a vanished host instead.
    // Told when the broker blocks publishers (a memory or disk alarm), and
    // named in the broker's list of connections.
    const std::string name = "qapi-bridge " + options_.site;
    amqp_table_entry_t capability{amqp_cstring_bytes("connection.blocked"), {}};
    capability.value.kind = AMQP_FIELD_KIND_BOOLEAN;
    capability.value.value.boolean = 1;
    amqp_table_entry_t properties[2] = {{amqp_cstring_bytes("capabilities"), {}},
                                        {amqp_cstring_bytes("connection_name"), {}}};
    properties[0].value.kind = AMQP_FIELD_KIND_TABLE;
    properties[0].value.value.table = {1, &capability};
    properties[1].value.kind = AMQP_FIELD_KIND_UTF8;
    properties[1].value.value.bytes = bytes(name);
    const amqp_table_t client{2, properties};
    why = failure(amqp_login_with_properties(connection_, b.vhost.c_str(), 0, kFrameMax, 0, &client,
                                             AMQP_SASL_METHOD_PLAIN, b.user.c_str(), b.password.c_str()));
    if (!why.empty()) return why = "cannot log in as " + b.user + ": " + why, false;
    const auto step = [this, &why](const char *what) {
        why = failure(amqp_get_rpc_reply(connection_));
        if (!why.empty()) why = std::string(what) + ": " + why;
        return why.empty();
    };
    amqp_channel_open(connection_, kEventChannel);
    if (!step("cannot open a channel")) return false;
    amqp_confirm_select(connection_, kEventChannel);
    if (!step("cannot turn confirmations on")) return false;
    amqp_exchange_declare(connection_, kEventChannel, amqp_cstring_bytes(kExchange),
                          amqp_cstring_bytes("topic"), 0, 1, 0, 0, amqp_empty_table);
    if (!step("cannot declare the exchange quentara.events")) return false;
    amqp_channel_open(connection_, kCommandChannel);
    if (!step("cannot open a channel")) return false;
    amqp_queue_declare(connection_, kCommandChannel, bytes(queue_), 0, 1, 0, 0, amqp_empty_table);
    if (!step(("cannot declare the queue " + queue_).c_str())) return false;
    amqp_basic_qos(connection_, kCommandChannel, 0, kPrefetch, 0);
    if (!step("cannot set the prefetch")) return false;
    amqp_basic_consume(connection_, kCommandChannel, bytes(queue_), amqp_empty_bytes, 0, 0, 0,
                       amqp_empty_table);
    if (!step(("cannot consume from " + queue_).c_str())) return false;
    state_ = State::up;
    failures_ = 0;
    blocked_ = false;
    saidDown_ = false;
    say_("broker " + b.shown() + " up: publishing to quentara.events, commands from " + queue_);
    return true;
}

void Broker::readFrames(BrokerEvents &events) {
    for (int i = 0; i < kFramesPerStep && state_ == State::up; ++i) {
        amqp_frame_t f{};
        timeval now{0, 0};
        const int r = amqp_simple_wait_frame_noblock(connection_, &f, &now);
        if (r == AMQP_STATUS_TIMEOUT) break;
        if (r != AMQP_STATUS_OK) return fail(std::string("connection lost: ") + amqp_error_string2(r));
        frame(f, events);
    }
    if (state_ == State::up) amqp_maybe_release_buffers(connection_);
}

void Broker::frame(const amqp_frame_t &f, BrokerEvents &events) {
    if (f.frame_type == AMQP_FRAME_METHOD) {
        const void *m = f.payload.method.decoded;
        switch (f.payload.method.id) {
        case AMQP_BASIC_ACK_METHOD:
            if (f.channel == kEventChannel) {
                const auto *ack = static_cast<const amqp_basic_ack_t *>(m);
                events.confirmed(ack->delivery_tag, ack->multiple != 0);
            }
            return;
        case AMQP_BASIC_NACK_METHOD:
            return fail("the broker could not take an event");
        case AMQP_BASIC_DELIVER_METHOD: {
            const auto *d = static_cast<const amqp_basic_deliver_t *>(m);
            incoming_ = Command{};
            incoming_.deliveryTag = d->delivery_tag;
            incoming_.redelivered = d->redelivered != 0;
            receiving_ = f.channel == kCommandChannel;
            received_ = 0;
            return;
        }
        case AMQP_BASIC_CANCEL_METHOD:
            return fail("the broker ended the consumer of " + queue_ + " (was the queue deleted?)");
        case AMQP_CHANNEL_CLOSE_METHOD:
            return fail("the broker closed channel " + std::to_string(f.channel) + ": " +
                        text(static_cast<const amqp_channel_close_t *>(m)->reply_text));
        case AMQP_CONNECTION_CLOSE_METHOD:
            return fail("the broker closed the connection: " +
                        text(static_cast<const amqp_connection_close_t *>(m)->reply_text));
        case AMQP_CONNECTION_BLOCKED_METHOD:
            blocked_ = true;
            say_("broker blocks publishing: " +
                 text(static_cast<const amqp_connection_blocked_t *>(m)->reason));
            return;
        case AMQP_CONNECTION_UNBLOCKED_METHOD:
            blocked_ = false;
            say_("broker takes events again");
            return;
        default:
            return;
        }
    }
    if (!receiving_ || f.channel != kCommandChannel) return;
    if (f.frame_type == AMQP_FRAME_HEADER) {
        const auto *p = static_cast<const amqp_basic_properties_t *>(f.payload.properties.decoded);
        if (p->_flags & AMQP_BASIC_REPLY_TO_FLAG) incoming_.replyTo = text(p->reply_to);
        if (p->_flags & AMQP_BASIC_CORRELATION_ID_FLAG) incoming_.correlationId = text(p->correlation_id);
        if (p->_flags & AMQP_BASIC_APP_ID_FLAG) incoming_.appId = text(p->app_id);
        incoming_.size = f.payload.properties.body_size;
        incoming_.tooLarge = incoming_.size > options_.commandBytes;
        if (!incoming_.tooLarge) incoming_.body.reserve(static_cast<size_t>(incoming_.size));
    } else if (f.frame_type == AMQP_FRAME_BODY) {
        const amqp_bytes_t &part = f.payload.body_fragment;
        received_ += part.len;
        if (!incoming_.tooLarge && incoming_.body.size() + part.len <= incoming_.size)
            incoming_.body.append(static_cast<const char *>(part.bytes), part.len);
    } else {
        return;
    }
    if (received_ >= incoming_.size) {
        receiving_ = false;
        events.command(std::move(incoming_));
    }
}

size_t Broker::room() const {
    if (state_ != State::up) return 0;
    uint32_t memory[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof memory;
    if (::getsockopt(socket_, SOL_SOCKET, SO_MEMINFO, memory, &length) != 0) return 0;
    const size_t sendBuffer = memory[SK_MEMINFO_SNDBUF], queued = memory[SK_MEMINFO_WMEM_QUEUED];
    const size_t margin = sendBuffer / 8;
    return sendBuffer > queued + margin ? sendBuffer - queued - margin : 0;
}

size_t Broker::cost(const Event &e) const {
    return sizeof kExchange + e.routingKey.size() + e.type.size() + e.messageId.size() + e.body.size() +
           kFrameOverhead;
}

bool Broker::publish(const Event &e) {
    if (state_ != State::up) return false;
    amqp_basic_properties_t p{};
    p._flags = AMQP_BASIC_CONTENT_TYPE_FLAG | AMQP_BASIC_DELIVERY_MODE_FLAG | AMQP_BASIC_MESSAGE_ID_FLAG |
               AMQP_BASIC_TYPE_FLAG | AMQP_BASIC_TIMESTAMP_FLAG;
    p.content_type = amqp_cstring_bytes("application/json");
    p.delivery_mode = 2;
    p.message_id = bytes(e.messageId);
    p.type = bytes(e.type);
    p.timestamp = static_cast<uint64_t>(e.timeUs / 1000000);
    const int r = amqp_basic_publish(connection_, kEventChannel, amqp_cstring_bytes(kExchange),
                                     bytes(e.routingKey), 0, 0, &p, bytes(e.body));
    if (r != AMQP_STATUS_OK) {
        fail(std::string("cannot publish: ") + amqp_error_string2(r));
        return false;
    }
    return true;
}

void Broker::answer(const Command &command, std::string reply) {
    if (state_ != State::up) return;  // the command comes again on the next connection
    replies_.push_back({command.deliveryTag, command.replyTo, command.correlationId, std::move(reply)});
    sendReplies();
}

bool Broker::sendReplies() {
    while (!replies_.empty() && state_ == State::up) {
        Reply &r = replies_.front();
        const size_t need = r.body.size() + r.to.size() + r.correlationId.size() + 2 * kFrameOverhead;
        if (need > room()) {
            // A reply larger than an idle connection takes would never go.
            uint32_t memory[SK_MEMINFO_VARS] = {};
            socklen_t length = sizeof memory;
            if (::getsockopt(socket_, SOL_SOCKET, SO_MEMINFO, memory, &length) == 0 &&
                memory[SK_MEMINFO_WMEM_QUEUED] == 0 && need > room())
                r.body = JsonWriter()
                             .beginObject()
                             .boolean("ok", false)
                             .text("error", "the reply (" + std::to_string(r.body.size()) +
                                                " bytes) is larger than the connection takes at once")
                             .endObject()
                             .take();
            if (r.body.size() + r.to.size() + r.correlationId.size() + 2 * kFrameOverhead > room())
                return false;
        }
        if (!r.to.empty()) {
            amqp_basic_properties_t p{};
            p._flags = AMQP_BASIC_CONTENT_TYPE_FLAG | AMQP_BASIC_DELIVERY_MODE_FLAG;
            p.content_type = amqp_cstring_bytes("application/json");
            p.delivery_mode = 1;
            if (!r.correlationId.empty()) {
                p._flags |= AMQP_BASIC_CORRELATION_ID_FLAG;
                p.correlation_id = bytes(r.correlationId);
            }
            const int sent = amqp_basic_publish(connection_, kCommandChannel, amqp_empty_bytes, bytes(r.to),
                                                0, 0, &p, bytes(r.body));
            if (sent != AMQP_STATUS_OK) {
                fail(std::string("cannot send a reply: ") + amqp_error_string2(sent));
                return false;
            }
        }
        const int acked = amqp_basic_ack(connection_, kCommandChannel, r.deliveryTag, 0);
        if (acked != AMQP_STATUS_OK) {
            fail(std::string("cannot acknowledge a command: ") + amqp_error_string2(acked));
            return false;
        }
        replies_.erase(replies_.begin());
    }
    return true;
}

int Broker::fd() const { return state_ == State::connecting || state_ == State::up ? socket_ : -1; }

short Broker::pollEvents() const {
    if (state_ == State::connecting) return POLLOUT;
    return static_cast<short>(POLLIN | (replies_.empty() ? 0 : POLLOUT));
}

Clock::time_point Broker::wakeAt() const {
    switch (state_) {
    case State::down:
        return nextTry_;
    case State::resolving:
        return Clock::now() + 20ms;
    case State::connecting:
        return deadline_;
    case State::up:
        break;
    }
    // Frames rabbitmq-c read already wait in its buffer, not in the socket.
    if (connection_ && (amqp_data_in_buffer(connection_) || amqp_frames_enqueued(connection_)))
        return Clock::now();
    return Clock::time_point::max();
}

void Broker::finish() {
    if (state_ == State::up) {
        sendReplies();
        timeval timeout{1, 0};
        amqp_set_rpc_timeout(connection_, &timeout);
        amqp_connection_close(connection_, AMQP_REPLY_SUCCESS);
    }
    release();
    state_ = State::down;
}

}  // namespace qbridge
