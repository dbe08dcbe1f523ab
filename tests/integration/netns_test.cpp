// Ping and the return address inside network namespaces that the tests make:
// addresses that do not answer and addresses beyond loopback exist only there.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "doorlink/doorlink.h"
#include "doorsim/simulator.h"
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

// The controller sits in a namespace of its own behind a veth pair; the
// return address is this host's end of the pair, not a loopback address.
TEST(Namespaces, ReturnAddressIsTheOneThatReachesTheController) {
    NetworkNamespace host("dlrh"), controller("dlrc");
    if (!host.create() || !controller.create()) GTEST_SKIP() << "cannot create network namespaces";
    const std::string pid = std::to_string(::getpid());
    const std::string hostLink = "drh" + pid, controllerLink = "drc" + pid;
    const std::string steps[] = {
        "ip link add " + hostLink + " type veth peer name " + controllerLink,
        "ip link set " + hostLink + " netns " + host.name(),
        "ip link set " + controllerLink + " netns " + controller.name(),
        "ip -n " + host.name() + " addr add 10.202.0.1/24 dev " + hostLink,
        "ip -n " + controller.name() + " addr add 10.202.0.2/24 dev " + controllerLink,
        "ip -n " + host.name() + " link set " + hostLink + " up",
        "ip -n " + controller.name() + " link set " + controllerLink + " up",
        "ip -n " + host.name() + " link set lo up",
    };
    for (const std::string& step : steps) ASSERT_TRUE(run_quietly(step)) << step;

    doorsim::Simulator sim;
    int id = -1;
    std::thread([&] {
        if (!controller.join()) return;
        doorsim::ControllerConfig config;
        config.address = "10.202.0.2";
        id = sim.add_controller(config);
        sim.start();  // its thread stays in the namespace
    }).join();
    ASSERT_GE(id, 0);

    uint32_t result = 0, cell = 0;
    bool joined = false;
    std::thread([&] {
        if ((joined = host.join())) result = DoorTransIP("10.202.0.2", &cell, sim.mac_text(id).c_str());
    }).join();
    ASSERT_TRUE(joined);
    ASSERT_EQ(result, 1u);
    ::close(static_cast<int>(cell));
    auto got = sim.received(id);
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(got[0].bytes.size(), 30u);
    EXPECT_EQ(doorsim::Bytes(got[0].bytes.begin() + 6, got[0].bytes.begin() + 10),
              (doorsim::Bytes{10, 202, 0, 1}));
    EXPECT_EQ(doorsim::Bytes(got[0].bytes.begin() + 18, got[0].bytes.begin() + 22),
              (doorsim::Bytes{10, 202, 0, 1}));
}

}  // namespace
}  // namespace doorlink
