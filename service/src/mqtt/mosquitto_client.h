// One MQTT 5 connection through libmosquitto: set up, then connected in the
// background by a network thread of its own, which connects again after a
// failure or a loss with a growing pause (1 s doubling up to 30 s, 1 s again
// after a connection that the broker accepted); libmosquitto resends on
// each reconnection the QoS 1 messages not yet acknowledged. (libmosquitto's
// own thread is not used: it never tries again when its first connection
// fails.) The callbacks run on the network thread and must return quickly;
// every other method may be called from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

struct mosquitto;

namespace doorlinkd {

struct MqttMessage {
    std::string topic;
    std::string payload;
    bool retained = false;
    // MQTT 5 request/response: where the answer goes, and what it carries.
    std::string responseTopic;  // "" when none
    std::optional<std::string> correlation;
    std::chrono::system_clock::time_point received;
    // The same moment on the monotonic clock: how long it waited.
    std::chrono::steady_clock::time_point heard;
};

struct MqttCallbacks {
    std::function<void()> connected;
    std::function<void()> lost;
    // A QoS 1 message the broker acknowledged: its message id and whether
    // it took it (an MQTT 5 reason code below 0x80) and, when not, why.
    std::function<void(int mid, bool accepted, const std::string& why)> acknowledged;
    std::function<void(MqttMessage)> message;
};

// The outcome of handing a message to the connection.
struct Handed {
    enum Result { Sent, NotNow, Never } result = NotNow;  // Never: the message can never go
    int mid = 0;
    std::string why;
};

class MosquittoClient {
public:
    MosquittoClient(const std::string& clientId, MqttCallbacks callbacks);
    ~MosquittoClient();  // disconnects
    MosquittoClient(const MosquittoClient&) = delete;
    MosquittoClient& operator=(const MosquittoClient&) = delete;

    // Before connect(); each throws Refused when libmosquitto refuses.
    void set_credentials(const std::string& user, const std::string& password);
    void set_tls(const std::string& ca, const std::string& cert, const std::string& key);
    void set_will(const std::string& topic, const std::string& payload);  // QoS 1, retained

    // Starts the network thread, which connects and keeps connecting.
    void connect(const std::string& host, int port);
    // Sends the DISCONNECT (the last will is dropped) and ends the network
    // thread within a second or so.
    void disconnect();

    Handed publish(const std::string& topic, const std::string& payload, bool retained,
                   const std::optional<std::string>& correlation = std::nullopt);
    bool subscribe(const std::string& pattern, int options);

    // What the callbacks of libmosquitto reach.
    struct Shared {
        MqttCallbacks callbacks;
        std::atomic<bool> accepted{false};  // the broker accepted the connection
    };

private:
    void run(const std::string& host, int port);
    // One connection, from its attempt until it fails, is lost or is ended:
    // why it failed when the broker never accepted it, else "".
    std::string connection(const std::string& host, int port);
    bool pause(std::chrono::milliseconds length);  // false when stopping
    bool stopping();

    struct mosquitto* mosq_ = nullptr;
    Shared shared_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace doorlinkd
