// Ping inside a network namespace that the test makes: an address that does
// not answer exists only there.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "doorlink/doorlink.h"
#include "support/netns.h"
#include "support/temp_dir.h"

namespace doorlink {
namespace {

using testing::NetworkNamespace;
using testing::run_quietly;

// A namespace whose loopback answers and where 10.201.0.2 lies on a link
// (one end of a veth pair, the other end in the namespace too) where nobody
// holds it: requests go unanswered until address resolution gives up, after
// which the namespace reports the host unreachable.
std::string make_ping_namespace(const NetworkNamespace& ns) {
    const std::string steps[] = {
        "ip -n " + ns.name() + " link set lo up",
        "ip -n " + ns.name() + " link add dead0 type veth peer name dead1",
        "ip -n " + ns.name() + " addr add 10.201.0.1/24 dev dead0",
        "ip -n " + ns.name() + " link set dead0 up",
        "ip -n " + ns.name() + " link set dead1 up",
    };
    for (const std::string& step : steps) {
        if (!run_quietly(step)) return "cannot set up the namespace: " + step;
    }
    return {};
}

struct PingRace {
    uint32_t silent = 9;
    int liveCalls = 0;
    int liveAnswered = 0;
};

// One thread pings the silent address (up to four attempts, 4 s) while
// another pings the loopback again and again. Runs on a thread that is in
// the namespace; the threads it starts are there too.
PingRace ping_at_once() {
    PingRace race;
    std::atomic<bool> done{false};
    std::thread silent([&] {
        race.silent = Ping("10.201.0.2");
        done = true;
    });
    std::thread live([&] {
        while (!done) {
            ++race.liveCalls;
            race.liveAnswered += static_cast<int>(Ping("127.0.0.1"));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    silent.join();
    live.join();
    return race;
}

TEST(Namespaces, ThreadsPingingAtOnceNeverTakeEachOthersReplies) {
    NetworkNamespace ns("dlrace");
    if (!ns.create()) GTEST_SKIP() << "cannot create a network namespace (ip netns add needs root)";
    const std::string why = make_ping_namespace(ns);
    ASSERT_EQ(why, "");
    testing::TempDir dir;
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);  // for the status file

    // Raw sockets: each sees every ICMP message of the namespace.
    PingRace race;
    bool joined = false;
    std::thread inside([&] {
        // Nothing is pinged unless the thread is in the namespace.
        if ((joined = ns.join())) race = ping_at_once();
    });
    inside.join();
    ASSERT_TRUE(joined);
    EXPECT_EQ(race.silent, 0u);
    EXPECT_GT(race.liveCalls, 0);
    EXPECT_EQ(race.liveAnswered, race.liveCalls);
}

}  // namespace
}  // namespace doorlink
