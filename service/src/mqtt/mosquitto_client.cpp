#include "mqtt/mosquitto_client.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "model/errors.h"
#include "mqtt/mqtt_log.h"

namespace doorlinkd {
namespace {

constexpr int kKeepAliveSeconds = 30;
constexpr auto kFirstPause = std::chrono::seconds(1), kLongestPause = std::chrono::seconds(30);
// How long one turn of the network loop waits for the socket; a publish
// from another thread wakes it at once.
constexpr int kTurnMs = 1000;
// How long a goodbye may take to go out.
constexpr auto kDisconnectWait = std::chrono::seconds(1);
// How long the broker may take to accept a connection, and the pace of the
// network loop's turns until it has.
constexpr auto kAnswerWait = std::chrono::seconds(10);
constexpr auto kPace = std::chrono::milliseconds(20);

void check(int rc, const std::string& what) {
    if (rc != MOSQ_ERR_SUCCESS) throw Refused(what + ": " + mosquitto_strerror(rc));
}

MqttCallbacks& callbacks_of(void* obj) { return static_cast<MosquittoClient::Shared*>(obj)->callbacks; }

// Nothing may be thrown back into libmosquitto's C code.
template <typename Call>
void guarded(const Call& call) {
    try {
        call();
    } catch (const std::exception& error) {
        mqtt_log(std::string("a callback failed: ") + error.what());
    }
}

void on_connect(struct mosquitto*, void* obj, int rc, int, const mosquitto_property*) {
    if (rc != 0) {
        mqtt_log(std::string("the broker refused the connection: ") + mosquitto_reason_string(rc));
        return;
    }
    static_cast<MosquittoClient::Shared*>(obj)->accepted = true;
    if (callbacks_of(obj).connected) guarded(callbacks_of(obj).connected);
}

void on_disconnect(struct mosquitto*, void* obj, int, const mosquitto_property*) {
    if (callbacks_of(obj).lost) guarded(callbacks_of(obj).lost);
}

void on_publish(struct mosquitto*, void* obj, int mid, int reason, const mosquitto_property*) {
    if (!callbacks_of(obj).acknowledged) return;
    const bool accepted = reason < 0x80;
    guarded([&] {
        callbacks_of(obj).acknowledged(mid, accepted, accepted ? "" : mosquitto_reason_string(reason));
    });
}

void take_message(void* obj, const struct mosquitto_message* in, const mosquitto_property* properties) {
    MqttMessage message;
    message.received = std::chrono::system_clock::now();
    message.heard = std::chrono::steady_clock::now();
    message.topic = in->topic ? in->topic : "";
    if (in->payloadlen > 0) message.payload.assign(static_cast<const char*>(in->payload), in->payloadlen);
    message.retained = in->retain;
    char* responseTopic = nullptr;
    if (mosquitto_property_read_string(properties, MQTT_PROP_RESPONSE_TOPIC, &responseTopic, false)) {
        message.responseTopic = responseTopic;
        std::free(responseTopic);
    }
    void* correlation = nullptr;
    uint16_t length = 0;
    if (mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &correlation, &length,
                                       false)) {
        message.correlation = std::string(static_cast<const char*>(correlation), length);
        std::free(correlation);
    }
    callbacks_of(obj).message(std::move(message));
}

void on_message(struct mosquitto*, void* obj, const struct mosquitto_message* in,
                const mosquitto_property* properties) {
    if (callbacks_of(obj).message) guarded([&] { take_message(obj, in, properties); });
}

// A socket whose connection failed: closed, or in error.
bool connection_failed(struct mosquitto* mosq) {
    pollfd socket{mosquitto_socket(mosq), POLLOUT, 0};
    return socket.fd < 0 || (poll(&socket, 1, 0) == 1 && (socket.revents & (POLLERR | POLLHUP)) != 0);
}

// A key that needs a password is refused rather than asked for on a
// terminal.
int no_key_password(char*, int, int, void*) { return 0; }

}  // namespace

MosquittoClient::MosquittoClient(const std::string& clientId, MqttCallbacks callbacks) {
    shared_.callbacks = std::move(callbacks);
    static std::once_flag initialised;
    std::call_once(initialised, [] { mosquitto_lib_init(); });
    mosq_ = mosquitto_new(clientId.c_str(), true, &shared_);
    if (!mosq_) throw Refused("libmosquitto could not make a client");
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_threaded_set(mosq_, true);  // other threads publish
    mosquitto_connect_v5_callback_set(mosq_, on_connect);
    mosquitto_disconnect_v5_callback_set(mosq_, on_disconnect);
    mosquitto_publish_v5_callback_set(mosq_, on_publish);
    mosquitto_message_v5_callback_set(mosq_, on_message);
}

MosquittoClient::~MosquittoClient() {
    disconnect();
    mosquitto_destroy(mosq_);
}

void MosquittoClient::set_credentials(const std::string& user, const std::string& password) {
    check(mosquitto_username_pw_set(mosq_, user.c_str(), password.empty() ? nullptr : password.c_str()),
          "the MQTT user name");
}

void MosquittoClient::set_tls(const std::string& ca, const std::string& cert, const std::string& key) {
    // Without a CA file the system's certificates are trusted.
    check(mosquitto_tls_set(mosq_, ca.empty() ? nullptr : ca.c_str(), ca.empty() ? "/etc/ssl/certs" : nullptr,
                            cert.empty() ? nullptr : cert.c_str(), key.empty() ? nullptr : key.c_str(),
                            no_key_password),
          "the MQTT TLS files");
}

void MosquittoClient::set_will(const std::string& topic, const std::string& payload) {
    check(mosquitto_will_set_v5(mosq_, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                                true, nullptr),
          "the MQTT last will");
}

void MosquittoClient::connect(const std::string& host, int port) {
    thread_ = std::thread([this, host, port] { run(host, port); });
}

void MosquittoClient::disconnect() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ || !thread_.joinable()) return;
        stopping_ = true;
    }
    wake_.notify_all();
    mosquitto_disconnect_v5(mosq_, 0, nullptr);
    thread_.join();
}

bool MosquittoClient::pause(std::chrono::milliseconds length) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !wake_.wait_for(lock, length, [this] { return stopping_; });
}

void MosquittoClient::run(const std::string& host, int port) {
    auto wait = kFirstPause;
    std::string lastFailure;
    for (;;) {
        const std::string failure = connection(host, port);
        if (failure.empty()) {
            wait = kFirstPause;
        } else if (failure != lastFailure && !stopping()) {  // told once, not at every attempt
            // NOLINTNEXTLINE(performance-inefficient-string-concatenation): a log line, once per new failure
            mqtt_log("cannot connect to " + host + ":" + std::to_string(port) + ": " + failure +
                     "; trying again");
        }
        lastFailure = failure;
        if (!pause(wait)) return;
        wait = std::min(wait * 2, kLongestPause);
    }
}

std::string MosquittoClient::connection(const std::string& host, int port) {
    using Clock = std::chrono::steady_clock;
    shared_.accepted = false;
    int rc = mosquitto_connect_async(mosq_, host.c_str(), port, kKeepAliveSeconds);
    int error = errno;
    const Clock::time_point began = Clock::now();
    Clock::time_point leaving{};
    while (rc == MOSQ_ERR_SUCCESS) {
        rc = mosquitto_loop(mosq_, kTurnMs, 1);
        error = errno;
        if (stopping()) {
            if (!shared_.accepted) break;
            // The DISCONNECT goes out on a later turn; then the socket closes.
            if (leaving == Clock::time_point{}) leaving = Clock::now();
            if (Clock::now() - leaving > kDisconnectWait) break;
        } else if (!shared_.accepted && rc == MOSQ_ERR_SUCCESS) {
            // A TLS connection that failed is not reported by libmosquitto:
            // its turns return at once, and never connect. So they are
            // paced, and the socket is looked at.
            if (connection_failed(mosq_)) return "the connection failed";
            if (Clock::now() - began > kAnswerWait) return "no answer";
            pause(kPace);
        }
    }
    if (shared_.accepted) return "";
    return rc == MOSQ_ERR_ERRNO ? errno_text(error) : mosquitto_strerror(rc);
}

bool MosquittoClient::stopping() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopping_;
}

Handed MosquittoClient::publish(const std::string& topic, const std::string& payload, bool retained,
                                const std::optional<std::string>& correlation) {
    mosquitto_property* properties = nullptr;
    if (correlation) {
        mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA, correlation->data(),
                                      static_cast<uint16_t>(correlation->size()));
    }
    Handed handed;
    const int rc = mosquitto_publish_v5(mosq_, &handed.mid, topic.c_str(), static_cast<int>(payload.size()),
                                        payload.data(), 1, retained, properties);
    mosquitto_property_free_all(&properties);
    switch (rc) {
        case MOSQ_ERR_SUCCESS: handed.result = Handed::Sent; break;
        case MOSQ_ERR_INVAL:
        case MOSQ_ERR_PAYLOAD_SIZE:
        case MOSQ_ERR_MALFORMED_UTF8:
        case MOSQ_ERR_OVERSIZE_PACKET: handed.result = Handed::Never; break;
        default: handed.result = Handed::NotNow;
    }
    handed.why = mosquitto_strerror(rc);
    return handed;
}

bool MosquittoClient::subscribe(const std::string& pattern, int options) {
    return mosquitto_subscribe_v5(mosq_, nullptr, pattern.c_str(), 1, options, nullptr) == MOSQ_ERR_SUCCESS;
}

}  // namespace doorlinkd
