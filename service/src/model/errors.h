// The failures that commands report, each with the exit status it gives.
#pragma once

#include <string.h>

#include <stdexcept>
#include <string>

namespace doorlinkd {

enum ExitCode : int {
    kSuccess = 0,
    kUnreachable = 1,  // a controller did not answer
    kRefused = 2,      // a usage error or refused input
    kLocalError = 3,   // a local file or database error
    kDriftRemains = 4,
    kBusy = 5,  // a controller busy with another process
};

// The smallest non-zero of two statuses: what a command with several
// outcomes exits with.
inline ExitCode worst(ExitCode a, ExitCode b) {
    if (a == kSuccess) return b;
    if (b == kSuccess) return a;
    return a < b ? a : b;
}

// Input that is refused (exit 2); the message names what was refused.
class Refused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Something named that does not exist: a controller, a card, a run (exit 2).
class NotFound : public Refused {
public:
    using Refused::Refused;
};

// A controller or data directory that another process is driving (exit 5).
class Busy : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A change made on a revision that is no longer the saved one: someone
// changed the value meanwhile (exit 5; 409 in the API).
class Stale : public Busy {
public:
    using Busy::Busy;
};

// A plan that no longer shows what applying it would do: the policy, a
// controller's list or the date moved since it was made, or it was applied
// (exit 2, as a refusal; 409 in the API).
class PlanStale : public Stale {
public:
    using Stale::Stale;
};

// A controller that did not answer (exit 1).
class Unreachable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A database or local file that failed (exit 3).
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The text of an errno value, as strerror gives it: GNU's strerror_r (it
// returns the text) rather than strerror, whose text another thread may
// overwrite.
inline std::string errno_text(int error) {
    char buffer[256];
    return ::strerror_r(error, buffer, sizeof buffer);
}

}  // namespace doorlinkd
