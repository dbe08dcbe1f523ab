// What the server does with a request, apart from reading and writing it:
// it finds the route, authenticates the token once the headers are in
// (before any body is read), says how large a body may be, runs the
// handler, audits every write and gives every answer its headers.
// Everything here may block (the store, the controllers): the server runs
// it on its workers, never on the threads that move bytes.
#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <string>

#include "http/api_call.h"
#include "http/auth.h"
#include "http/routes.h"
#include "http/web_files.h"

namespace doorlinkd {

// One request on its way through the server.
struct Exchange {
    HttpRequest request;
    HttpResponse response;
    bool head = false;     // HEAD: the answer of GET, without its body
    size_t bodyLimit = 0;  // what admit allows: kMaxJsonBody but for an import
    const Route* route = nullptr;
    const WebFile* file = nullptr;
    std::unique_ptr<Call> call;  // over request and response
};

class Dispatcher {
public:
    explicit Dispatcher(Services& services) : services_(services) {}

    // Once the headers are in: true when the body may be read (up to
    // exchange.bodyLimit); false when the response already holds the answer.
    bool admit(Exchange& exchange);
    // Once the body is in: the handler's answer, audited.
    void answer(Exchange& exchange);
    // An answer of the server's own (400, 408, 413, 431, 503), before or
    // without a route.
    void refuse(HttpResponse& response, int status) const;
    // The headers every answer carries; counts it.
    void finish(HttpResponse& response) const;

private:
    void answer_failure(Call& call, std::string& error);
    void write_audit(const Call& call, const std::string& error);

    Services& services_;
    AuthFailures failures_;
};

}  // namespace doorlinkd
