// The checks an MQTT command passes before anything is done, and the
// broker URLs the bridge takes.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "model/errors.h"
#include "mqtt/broker_url.h"
#include "mqtt/mqtt_command.h"

namespace doorlinkd {
namespace {

constexpr int64_t kNow = 1700000000;

std::string payload(const std::string& id, int64_t time, const std::string& more = "") {
    return "{\"id\": \"" + id + "\", \"time\": " + std::to_string(time) + more + "}";
}

TEST(MqttCommand, AFreshCommandIsReadFromItsTopicAndPayload) {
    const MqttCommand open =
        check_command("doorlink/hall/cmd/open", payload("a1", kNow - 29, ", \"door\": 3"), false, kNow);
    EXPECT_EQ(open.refusal, "");
    EXPECT_EQ(open.controller, "hall");
    EXPECT_EQ(open.verb, "open");
    EXPECT_EQ(open.id, "a1");
    EXPECT_EQ(open.door, 3);
    EXPECT_EQ(check_command("doorlink/hall/cmd/sync", payload("s", kNow + 30), false, kNow).refusal, "");
    EXPECT_EQ(
        check_command("doorlink/hall/cmd/time", "{\"id\":\"t\",\"time\":1700000000.5}", false, kNow).refusal,
        "");
}

TEST(MqttCommand, StaleFutureRetainedAndMalformedCommandsAreRefused) {
    const auto refusal = [](const std::string& topic, const std::string& body, bool retained = false) {
        return check_command(topic, body, retained, kNow).refusal;
    };
    const std::string open = "doorlink/hall/cmd/open";
    EXPECT_EQ(refusal(open, payload("a", kNow - 31, ", \"door\": 0")), "the command is stale");
    EXPECT_EQ(refusal(open, payload("a", kNow + 31, ", \"door\": 0")), "the command's time is in the future");
    EXPECT_EQ(refusal(open, payload("a", kNow, ", \"door\": 0"), true),
              "a retained command is never acted on");
    EXPECT_NE(refusal(open, payload("a", kNow, ", \"door\": 4")), "");
    EXPECT_NE(refusal(open, payload("a", kNow, ", \"door\": \"1\"")), "");
    EXPECT_NE(refusal(open, payload("a", kNow)), "");  // no door
    EXPECT_NE(refusal(open, payload("", kNow, ", \"door\": 0")), "");
    EXPECT_NE(refusal(open, payload(std::string(65, 'x'), kNow, ", \"door\": 0")), "");
    // Characters, not bytes: 64 of two bytes each are an id; a NUL is none.
    std::string twoByteCharacters;
    for (int i = 0; i < 64; ++i) twoByteCharacters += "\xC3\xA9";
    EXPECT_EQ(refusal(open, payload(twoByteCharacters, kNow, ", \"door\": 0")), "");
    EXPECT_NE(refusal(open, payload("a\\u0000b", kNow, ", \"door\": 0")), "");
    EXPECT_NE(refusal(open, "{\"id\": 7, \"time\": 1700000000, \"door\": 0}"), "");
    EXPECT_NE(refusal(open, "{\"id\": \"a\", \"time\": \"now\", \"door\": 0}"), "");
    EXPECT_NE(refusal(open, "[1, 2]"), "");
    EXPECT_EQ(refusal(open, "{\"id\": \"a\""), "the payload is not JSON");
    EXPECT_EQ(refusal("doorlink/hall/cmd/reboot", payload("a", kNow)), "unknown command reboot");
    EXPECT_EQ(refusal("doorlink/hall/reply", payload("a", kNow)), "not a command topic");
    // The id is known for the answer even when the command is refused.
    EXPECT_EQ(check_command(open, payload("late", kNow - 60, ", \"door\": 0"), false, kNow).id, "late");
}

TEST(MqttCommand, AnswersCarryTheIdResultErrorAndRun) {
    EXPECT_EQ(nlohmann::json::parse(command_answer("a", "ok", "", 12)),
              nlohmann::json({{"id", "a"}, {"result", "ok"}, {"error", nullptr}, {"run", 12}}));
    EXPECT_EQ(nlohmann::json::parse(command_answer("", "refused", "the payload is not JSON")),
              nlohmann::json({{"id", nullptr}, {"result", "refused"}, {"error", "the payload is not JSON"}}));
}

TEST(MqttCommand, AnswersGoOnlyToTheControllersReplyTopicOrUnderTheConfiguredPrefix) {
    EXPECT_EQ(answer_topic("", "door1", ""), "doorlink/door1/reply");
    // Without a prefix no response topic is used but the controller's own.
    for (const char* asked : {"clients/7/answers", "doorlink/door2/reply", "doorlink/door1/cmd/open",
                              "doorlink/service/hall/status", "$SYS/broker"}) {
        EXPECT_EQ(answer_topic(asked, "door1", ""), "doorlink/door1/reply") << asked;
        EXPECT_EQ(answer_topic(asked, "door1", "clients/"),
                  std::string(asked).rfind("clients/", 0) == 0 ? asked : "doorlink/door1/reply")
            << asked;
    }
    EXPECT_EQ(answer_topic("clients/", "door1", "clients/"), "doorlink/door1/reply");  // nothing under it
    EXPECT_EQ(answer_topic("clients/+/x", "door1", "clients/"), "doorlink/door1/reply");
    EXPECT_EQ(answer_topic("clients/7", "", "clients/"), "clients/7");
    EXPECT_EQ(answer_topic("elsewhere/7", "", "clients/"), "");  // nowhere to answer

    EXPECT_EQ(reply_prefix_problem("clients/"), "");
    for (const char* bad : {"clients", "/", "doorlink/replies/", "$share/x/", "a/#/", "a/+/"}) {
        EXPECT_NE(reply_prefix_problem(bad), "") << bad;
    }
}

TEST(BrokerUrl, PlainAndTlsWithTheirDefaultPorts) {
    const BrokerUrl plain = parse_broker_url("mqtt://broker.example.org");
    EXPECT_FALSE(plain.tls);
    EXPECT_EQ(plain.host, "broker.example.org");
    EXPECT_EQ(plain.port, 1883);
    const BrokerUrl tls = parse_broker_url("mqtts://127.0.0.1:18883/");
    EXPECT_TRUE(tls.tls);
    EXPECT_EQ(tls.host, "127.0.0.1");
    EXPECT_EQ(tls.port, 18883);
    EXPECT_EQ(parse_broker_url("mqtts://[::1]").port, 8883);
    EXPECT_EQ(parse_broker_url("mqtts://[::1]").host, "::1");
    for (const char* bad : {"http://host", "mqtt://", "mqtt://host:0", "mqtt://host:70000", "mqtt://host:x",
                            "mqtt://user@host", "mqtt://host/path", "mqtt://[::1"}) {
        EXPECT_THROW(parse_broker_url(bad), Refused) << bad;
    }
}

}  // namespace
}  // namespace doorlinkd
