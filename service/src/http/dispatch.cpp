#include "http/dispatch.h"

#include <iostream>

#include "common/utf8.h"
#include "http/client_address.h"
#include "http/web_routes.h"

namespace doorlinkd {
namespace {

const char* const kContentSecurityPolicy =
    "default-src 'self'; img-src 'self' blob: data:; connect-src 'self'; style-src 'self'; "
    "script-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'self'";

const char* status_text(int status) {
    switch (status) {
        case 400: return "bad request";
        case 404: return "no such path";
        case 405: return "method not allowed";
        case 408: return "the request did not arrive in time";
        case 413: return "the body is too large";
        case 414: return "the path is too long";
        case 431: return "the headers are too large";
        case 500: return "internal error";
        case 503: return "not available now";
        default: return "the request failed";
    }
}

// What the audit may hold: printable UTF-8 (a path or an error may echo
// any bytes sent).
std::string printable(const std::string& text) {
    if (is_printable_utf8(text)) return text;
    std::string out = text;
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
    }
    return out;
}

// The status of a failure the service's parts report.
int status_of(const std::exception& e) {
    if (dynamic_cast<const NotFound*>(&e)) return 404;
    if (dynamic_cast<const Refused*>(&e)) return 400;
    if (dynamic_cast<const Unreachable*>(&e)) return 504;
    if (dynamic_cast<const Busy*>(&e)) return 409;
    if (dynamic_cast<const StoreError*>(&e)) return 503;
    return 500;
}

bool is_write(const std::string& method) { return method == "POST" || method == "PUT" || method == "DELETE"; }

}  // namespace

bool Dispatcher::admit(Exchange& exchange) {
    HttpRequest& request = exchange.request;
    HttpResponse& response = exchange.response;
    exchange.head = request.method == "HEAD";
    exchange.bodyLimit = kMaxJsonBody;
    if (request.path.size() > kMaxPath) {
        reply_error(response, 414, "the path is longer than " + std::to_string(kMaxPath) + " bytes");
        finish(response);
        return false;
    }
    if (request.method == "GET" || exchange.head) {
        exchange.file = web_file_at(request.path);
        if (exchange.file) return true;
    }
    std::map<std::string, std::string> params;
    const std::string sentPath = request.target.substr(0, request.target.find('?'));
    exchange.route = find_route(request.method, sentPath, params);
    if (!exchange.route) {
        std::string allowed = allowed_methods(sentPath);
        if (allowed.empty() && is_web_path(request.path)) allowed = "GET, HEAD";
        const int status = allowed.empty() ? 404 : 405;
        refuse(response, status);
        if (!allowed.empty()) response.set_header("Allow", allowed);
        return false;
    }
    const Route& route = *exchange.route;
    if (std::string(route.body) == "text/csv") exchange.bodyLimit = services_.options.bodyLimit;

    exchange.call = std::make_unique<Call>(request, response);
    Call& call = *exchange.call;
    std::vector<std::string> forwardedFor;
    const auto [first, last] = request.headers.equal_range("X-Forwarded-For");
    for (auto it = first; it != last; ++it) forwardedFor.push_back(it->second);
    call.actor.address = client_address(request.remote_addr, forwardedFor, services_.options.trustedProxies);
    call.params = std::move(params);
    const std::vector<std::string> names = path_names(route.path);
    if (!names.empty()) call.target = call.params[names.front()];
    if (!route.role) return true;
    try {
        authenticate(services_.store, failures_, call, *route.role);
        return true;
    } catch (...) {
        std::string error;
        answer_failure(call, error);
        if (call.authenticated && is_write(request.method)) write_audit(call, error);
        finish(response);
        return false;
    }
}

void Dispatcher::answer(Exchange& exchange) {
    if (exchange.file) {
        serve_web_file(*exchange.file, exchange.response);
        finish(exchange.response);
        return;
    }
    Call& call = *exchange.call;
    std::string error;
    try {
        exchange.route->handler(services_, call);
    } catch (...) {
        answer_failure(call, error);
    }
    if (call.authenticated && is_write(exchange.request.method)) write_audit(call, error);
    finish(exchange.response);
}

void Dispatcher::refuse(HttpResponse& response, int status) const {
    response.headers.clear();
    reply_error(response, status, status_text(status));
    finish(response);
}

void Dispatcher::finish(HttpResponse& response) const {
    response.set_header("Content-Security-Policy", kContentSecurityPolicy);
    response.set_header("X-Content-Type-Options", "nosniff");
    response.set_header("Referrer-Policy", "no-referrer");
    response.set_header("X-Frame-Options", "DENY");
    if (!response.has_header("Cache-Control")) response.set_header("Cache-Control", "no-store");
    services_.metrics.http_request(response.status);
}

void Dispatcher::answer_failure(Call& call, std::string& error) {
    int status = 500;
    std::string retryAfter;
    try {
        throw;
    } catch (const HttpError& e) {
        status = e.status();
        error = e.what();
        if (e.retry_after() > 0) retryAfter = std::to_string(e.retry_after());
    } catch (const RowsRefused& e) {
        call.response.headers.clear();
        call.response.streams = false;
        reply(call, 400, outcome_of_rows(e).json);
        error = e.what();
        return;
    } catch (const std::exception& e) {
        status = status_of(e);
        // What failed inside is for the log only: a database's error names
        // its host, user and database, to anyone, tokens or not.
        const bool inside = status == 500 || dynamic_cast<const StoreError*>(&e) != nullptr;
        error = status == 500 ? "internal error" : inside ? "the database does not answer" : e.what();
        if (inside) {
            std::cerr << "doorlinkd: " << call.request.method << ' ' << printable(call.request.path) << ": "
                      << e.what() << std::endl;
        }
    } catch (...) {
        error = "internal error";
    }
    // Headers a handler set for its success do not go with the error.
    call.response.headers.clear();
    call.response.streams = false;
    if (!retryAfter.empty()) call.response.set_header("Retry-After", retryAfter);
    reply_error(call.response, status, error);
}

void Dispatcher::write_audit(const Call& call, const std::string& error) {
    AuditEntry entry;
    entry.who = call.actor.who;
    entry.address = call.actor.address;
    entry.action = printable(call.request.method + " " + call.request.path);
    entry.target = printable(call.target);
    const int status = call.response.status;
    entry.result = status < 400 ? "ok" : printable(std::to_string(status) + " " + error);
    entry.detail = printable(call.detail);
    try {
        services_.store.audit(entry);
    } catch (const std::exception& e) {
        std::cerr << "doorlinkd: the audit entry of " << entry.action << " by " << entry.who
                  << " could not be stored: " << e.what() << std::endl;
    }
}

}  // namespace doorlinkd
