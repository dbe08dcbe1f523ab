// Network namespaces that a test makes for itself with `ip netns`, named
// after the test process and removed when the object goes.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace doorlink::testing {

// Runs a shell command with its output discarded; true when it succeeded.
inline bool run_quietly(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

class NetworkNamespace {
public:
    // prefix + this process's id, e.g. "dlsim12345".
    explicit NetworkNamespace(const std::string& prefix) : name_(prefix + std::to_string(::getpid())) {}
    ~NetworkNamespace() {
        if (made_) run_quietly("ip netns del " + name_);
    }
    NetworkNamespace(const NetworkNamespace&) = delete;
    NetworkNamespace& operator=(const NetworkNamespace&) = delete;

    // False where namespaces cannot be made (no root, no iproute2).
    bool create() { return made_ = run_quietly("ip netns add " + name_); }
    const std::string& name() const { return name_; }
    // Moves the calling process (a forked child) into the namespace.
    bool join() const {
        int fd = ::open(("/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
        return fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
    }

private:
    std::string name_;
    bool made_ = false;
};

}  // namespace doorlink::testing
