// Ping without a raw socket: an unprivileged process in a network namespace
// of its own, where ICMP datagram sockets are allowed, pings its loopback.
#include <grp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

#include "doorlink/doorlink.h"
#include "support/netns.h"
#include "support/temp_dir.h"

namespace doorlink {
namespace {

constexpr uid_t kNobody = 65534;

TEST(PingFallback, UnprivilegedProcessPingsThroughAnIcmpDatagramSocket) {
    testing::NetworkNamespace ns("dlping");
    if (!ns.create()) GTEST_SKIP() << "cannot create a network namespace (ip netns add needs root)";
    ASSERT_TRUE(testing::run_quietly("ip -n " + ns.name() + " link set lo up"));
    ASSERT_TRUE(testing::run_quietly("ip netns exec " + ns.name() +
                                     " sysctl -qw net.ipv4.ping_group_range='0 2147483647'"));
    testing::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);

    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // _exit throughout: the child must not run the parent's exit handlers.
        if (!ns.join() || ::chdir(dir.path().c_str()) != 0) ::_exit(2);
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(3);
        ::prctl(PR_SET_DUMPABLE, 1);
        int raw = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
        if (raw >= 0) ::_exit(4);  // still privileged: the test would prove nothing
        ::_exit(Ping("127.0.0.1") == 1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    std::ifstream in(dir.file("ping.ini"));
    std::stringstream text;
    text << in.rdbuf();
    ASSERT_EQ(WEXITSTATUS(status), 0) << text.str();
    // The same view as a raw socket: 20 header bytes and the 44 of the reply,
    // which carries this process's identifier.
    EXPECT_NE(text.str().find("PingStatue1=64 bytes from 127.0.0.1:icmp_seq = 0.time: "), std::string::npos)
        << text.str();
}

}  // namespace
}  // namespace doorlink
