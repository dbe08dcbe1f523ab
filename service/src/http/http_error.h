// The error that ends an API call with a status and {"error": message}.
#pragma once

#include <stdexcept>
#include <string>

namespace doorlinkd {

class HttpError : public std::runtime_error {
public:
    HttpError(int status, const std::string& message, int retryAfter = 0)
        : std::runtime_error(message), status_(status), retryAfter_(retryAfter) {}
    int status() const { return status_; }
    int retry_after() const { return retryAfter_; }  // seconds; 0: no Retry-After

private:
    int status_;
    int retryAfter_;
};

}  // namespace doorlinkd
