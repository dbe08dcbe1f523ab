// The receive bounds of the library's sockets when the platform misbehaves.
// This program is linked with --wrap for setsockopt, ioctl and poll; while a
// test asks them to, the wrappers below refuse the receive time-out, refuse
// non-blocking mode, or report a datagram that is not there.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <mutex>
#include <thread>

#include "core/transport.h"
#include "support/elapsed.h"

namespace {

std::atomic<bool> refuseReceiveTimeout{false};
std::atomic<bool> refuseNonBlocking{false};
std::atomic<int> phantomReadableFd{-1};

}  // namespace

extern "C" {

int __real_setsockopt(int fd, int level, int name, const void* value, socklen_t length);
int __real_ioctl(int fd, unsigned long request, ...);
int __real_poll(pollfd* fds, nfds_t count, int timeoutMs);

int __wrap_setsockopt(int fd, int level, int name, const void* value, socklen_t length) {
    if (refuseReceiveTimeout && level == SOL_SOCKET && name == SO_RCVTIMEO) {
        errno = ENOPROTOOPT;
        return -1;
    }
    return __real_setsockopt(fd, level, name, value, length);
}

int __wrap_ioctl(int fd, unsigned long request, ...) {
    va_list rest;
    va_start(rest, request);
    void* argument = va_arg(rest, void*);
    va_end(rest);
    if (refuseNonBlocking && request == FIONBIO) {
        errno = ENOTTY;
        return -1;
    }
    return __real_ioctl(fd, request, argument);
}

// Readable at once with nothing to read, as when the platform reported a
// datagram and then dropped it.
int __wrap_poll(pollfd* fds, nfds_t count, int timeoutMs) {
    if (count == 1 && fds[0].fd == phantomReadableFd && (fds[0].events & POLLIN) != 0) {
        fds[0].revents = POLLIN;
        return 1;
    }
    return __real_poll(fds, count, timeoutMs);
}

}  // extern "C"

namespace doorlink {
namespace {

using namespace std::chrono_literals;
using core::Endpoint;
using core::SocketHandle;
using testing::elapsed_ms;

constexpr char kDatagram[] = "late";

void send_to_loopback(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::sendto(fd, kDatagram, sizeof kDatagram, 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(sizeof kDatagram));
    ::close(fd);
}

// Sends one datagram to a port on 127.0.0.1 after a delay unless it is
// dismissed first, so that a receive that would block for ever ends and its
// test fails instead of hanging.
class Watchdog {
public:
    Watchdog(uint16_t port, std::chrono::milliseconds delay)
        : thread_([this, port, delay] {
              std::unique_lock<std::mutex> guard(lock_);
              if (!wake_.wait_for(guard, delay, [this] { return dismissed_; })) send_to_loopback(port);
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            dismissed_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex lock_;
    std::condition_variable wake_;
    bool dismissed_ = false;
    std::thread thread_;
};

class SocketFaults : public ::testing::Test {
protected:
    void TearDown() override {
        refuseReceiveTimeout = false;
        refuseNonBlocking = false;
        phantomReadableFd = -1;
    }
    uint8_t buffer[64] = {};
    Endpoint from;
};

TEST_F(SocketFaults, AReceiveOnASocketThatRefusedItsTimeOutStillEndsAfterTheReadinessWait) {
    refuseReceiveTimeout = true;
    uint16_t port = 0;
    const SocketHandle socket = core::OpenControllerSocket(port);
    ASSERT_NE(socket, 0u);
    Watchdog watchdog(port, 10s);
    send_to_loopback(port);
    EXPECT_EQ(core::ReceiveOnOwnSocket(socket, buffer, sizeof buffer, from),
              static_cast<int>(sizeof kDatagram));
    const long ms =
        elapsed_ms([&] { EXPECT_EQ(core::ReceiveOnOwnSocket(socket, buffer, sizeof buffer, from), -1); });
    EXPECT_GE(ms, 1500);
    EXPECT_LT(ms, 8000);
    core::CloseControllerSocket(socket);
}

TEST_F(SocketFaults, ASocketWhoseReceiveCannotBeBoundedIsNotOpened) {
    refuseReceiveTimeout = true;
    refuseNonBlocking = true;
    uint16_t port = 0;
    EXPECT_EQ(core::OpenControllerSocket(port), 0u);
}

TEST_F(SocketFaults, AGraceReceiveThatFindsNoDatagramAfterItsWaitEndsWithinTheGrace) {
    uint16_t port = 0;
    const SocketHandle socket = core::OpenControllerSocket(port);
    ASSERT_NE(socket, 0u);
    phantomReadableFd = static_cast<int>(socket);
    const long ms = elapsed_ms(
        [&] { EXPECT_EQ(core::ReceiveFromControllerWithin(socket, buffer, sizeof buffer, from, 30), -1); });
    EXPECT_LT(ms, 1000);
    core::CloseControllerSocket(socket);
}

}  // namespace
}  // namespace doorlink
