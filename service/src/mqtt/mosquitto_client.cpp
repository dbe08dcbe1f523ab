#include "mqtt/mosquitto_client.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "model/errors.h"
#include "mqtt/mqtt_log.h"

namespace doorlinkd {
namespace {

constexpr int kKeepAliveSeconds = 30;
constexpr unsigned kFirstPauseSeconds = 1, kLongestPauseSeconds = 30;

void check(int rc, const std::string& what) {
    if (rc != MOSQ_ERR_SUCCESS) throw Refused(what + ": " + mosquitto_strerror(rc));
}

MqttCallbacks& callbacks_of(void* obj) { return *static_cast<MqttCallbacks*>(obj); }

// Nothing may be thrown back into libmosquitto's C code.
template <typename Call>
void guarded(Call call) {
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

// A key that needs a password is refused rather than asked for on a
// terminal.
int no_key_password(char*, int, int, void*) { return 0; }

}  // namespace

MosquittoClient::MosquittoClient(const std::string& clientId, MqttCallbacks callbacks)
    : callbacks_(std::move(callbacks)) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { mosquitto_lib_init(); });
    mosq_ = mosquitto_new(clientId.c_str(), true, &callbacks_);
    if (!mosq_) throw Refused("libmosquitto could not make a client");
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_reconnect_delay_set(mosq_, kFirstPauseSeconds, kLongestPauseSeconds, true);
    mosquitto_connect_v5_callback_set(mosq_, on_connect);
    mosquitto_disconnect_v5_callback_set(mosq_, on_disconnect);
    mosquitto_publish_v5_callback_set(mosq_, on_publish);
    mosquitto_message_v5_callback_set(mosq_, on_message);
}

MosquittoClient::~MosquittoClient() {
    if (looping_) mosquitto_loop_stop(mosq_, true);
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
    // A first attempt that fails is logged; the network thread tries again.
    const int rc = mosquitto_connect_async(mosq_, host.c_str(), port, kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        mqtt_log("cannot connect to " + host + ":" + std::to_string(port) +
                 " yet: " + (rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc)));
    }
    check(mosquitto_loop_start(mosq_), "the MQTT network thread");
    looping_ = true;
}

void MosquittoClient::disconnect() {
    if (!looping_) return;
    mosquitto_disconnect_v5(mosq_, 0, nullptr);
    mosquitto_loop_stop(mosq_, false);
    looping_ = false;
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
