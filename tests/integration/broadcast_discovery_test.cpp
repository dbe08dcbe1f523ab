// Broadcast discovery inside two network namespaces that the test makes: the
// controllers (the doorsim executable) in one, the library in the other,
// joined by a veth pair. Nothing leaves the namespaces; they are removed
// afterwards.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "doorlink/doorlink.h"
#include "platform/profile.h"
#include "support/netns.h"
#include "support/temp_dir.h"

namespace doorlink {
namespace {

using testing::NetworkNamespace;
using testing::run_quietly;

// Two namespaces joined by a veth pair named after this process, and the
// doorsim running in the first; all of it removed on destruction (the pair
// goes with its namespaces).
class NamespacePair {
public:
    NamespacePair() : simSpace("dlsim"), libSpace("dllib"), sim(simSpace.name()), lib(libSpace.name()) {
        const std::string pid = std::to_string(::getpid());
        simLink = "dls" + pid;
        libLink = "dll" + pid;
    }
    ~NamespacePair() {
        if (doorsim > 0) {
            ::kill(doorsim, SIGTERM);
            int status;
            ::waitpid(doorsim, &status, 0);
        }
    }

    // Empty on success, else why the namespaces could not be made.
    std::string make(int controllers) {
        if (!simSpace.create())
            return "cannot create a network namespace (ip netns add needs root and iproute2)";
        if (!libSpace.create()) return "cannot create a second network namespace";
        const std::string steps[] = {
            "ip link add " + simLink + " type veth peer name " + libLink,
            "ip link set " + simLink + " netns " + sim,
            "ip link set " + libLink + " netns " + lib,
            "ip -n " + lib + " addr add 10.200.0.1/24 dev " + libLink,
            "ip -n " + lib + " link set " + libLink + " up",
            "ip -n " + lib + " route add default dev " + libLink,
            "ip -n " + sim + " link set " + simLink + " up",
        };
        for (const std::string& step : steps) {
            if (!run_quietly(step)) return "cannot set up the veth pair: " + step;
        }
        for (int i = 0; i < controllers; ++i) {
            std::string add =
                "ip -n " + sim + " addr add 10.200.0." + std::to_string(i + 2) + "/24 dev " + simLink;
            if (!run_quietly(add)) return "cannot add a controller address: " + add;
        }
        return {};
    }

    NetworkNamespace simSpace, libSpace;
    const std::string sim, lib;
    std::string simLink, libLink;
    pid_t doorsim = -1;
};

// Starts doorsim in the namespace and waits for its "ready" line.
bool start_doorsim(NamespacePair& ns, int controllers, std::string& output) {
    int out[2];
    if (::pipe(out) != 0) return false;
    pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        ::close(out[0]);
        const std::string count = std::to_string(controllers);
        ::execlp("ip", "ip", "netns", "exec", ns.sim.c_str(), DOORSIM_EXECUTABLE, "--address", "10.200.0.2",
                 "--controllers", count.c_str(), "--broadcast", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    if (child < 0) {
        ::close(out[0]);
        return false;
    }
    ns.doorsim = child;
    FILE* lines = ::fdopen(out[0], "r");
    char line[256];
    bool ready = false;
    while (!ready && std::fgets(line, sizeof line, lines)) {
        output += line;
        ready = std::string(line).rfind("ready", 0) == 0;
    }
    // Keep reading doorsim's output nowhere: closing the pipe is harmless,
    // it writes nothing more unless asked to be verbose.
    std::fclose(lines);
    return ready;
}

// Runs FindEqm(broadcast) in a child process that joins the library's
// namespace, with the trace going to traceFile; returns its result.
bool discover_in(const NetworkNamespace& ns, const std::string& traceFile, int32_t& result) {
    int out[2];
    if (::pipe(out) != 0) return false;
    pid_t child = ::fork();
    if (child == 0) {
        ::close(out[0]);
        if (!ns.join()) ::_exit(2);
        int trace = ::open(traceFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (trace >= 0) ::dup2(trace, 2);
        ::setenv("DOORLINK_TRACE", "1", 1);
        int32_t r = FindEqm("", 1);
        ssize_t written = ::write(out[1], &r, sizeof r);
        ::_exit(written == sizeof r ? 0 : 3);
    }
    ::close(out[1]);
    if (child < 0) return false;
    ssize_t got = ::read(out[0], &result, sizeof result);
    ::close(out[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return got == sizeof result && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string discovered(const std::string& section, const std::string& key) {
    char text[64];
    const std::string path = std::string(std::getenv("DOORLINK_HOME")) + "/eqminfo.ini";
    platform::profile_read_string(section.c_str(), key.c_str(), nullptr, text, sizeof text, path.c_str());
    return text;
}

TEST(BroadcastDiscovery, EveryControllerInTheNamespaceAnswersIntoTheRegistry) {
#ifndef DOORSIM_EXECUTABLE
    GTEST_SKIP() << "built without doorsim";
#else
    constexpr int kControllers = 3;
    NamespacePair ns;
    if (std::string why = ns.make(kControllers); !why.empty()) GTEST_SKIP() << why;
    std::string output;
    ASSERT_TRUE(start_doorsim(ns, kControllers, output)) << output;

    testing::TempDir dir;
    const std::string traceFile = dir.file("trace.txt");
    int32_t result = -5;
    ASSERT_TRUE(discover_in(ns.libSpace, traceFile, result));

    // Three new controllers: the last reply read a count of 2.
    EXPECT_EQ(result, 2);
    EXPECT_EQ(discovered("EqmTotal", "EqmTotal"), "3");
    std::set<std::string> addresses;
    for (int i = 1; i <= kControllers; ++i) {
        const std::string n = std::to_string(i);
        const std::string address = discovered("EqmIP", "EqmIP" + n);
        addresses.insert(address);
        // doorsim numbers its controllers from 1 and varies image modes 1..3.
        const int k = std::atoi(address.substr(address.rfind('.') + 1).c_str()) - 2;
        EXPECT_EQ(discovered("EqmNO", "EqmNo" + n), std::to_string(k + 1)) << address;
        EXPECT_EQ(discovered("EqmImg", "EqmImg" + n), std::to_string(k % 3 + 1)) << address;
        EXPECT_EQ(discovered("EqmTime", "EqmTime" + n), std::to_string(k)) << address;
        EXPECT_EQ(discovered("EqmNet", "EqmNet" + n), "255.255.255.0");
        EXPECT_EQ(discovered("EqmGate", "EqmGate" + n), "10.200.0.1");
    }
    EXPECT_EQ(addresses, (std::set<std::string>{"10.200.0.2", "10.200.0.3", "10.200.0.4"}));

    std::ifstream in(traceFile);
    std::stringstream trace;
    trace << in.rdbuf();
    EXPECT_NE(trace.str().find("\nnRet=36, From:10.200.0."), std::string::npos) << trace.str();
    EXPECT_NE(trace.str().find("\n48 84 94 04 44 "), std::string::npos) << trace.str();
    EXPECT_NE(trace.str().find("\nnRet=-1, From:10.200.0."), std::string::npos) << trace.str();
#endif
}

}  // namespace
}  // namespace doorlink
