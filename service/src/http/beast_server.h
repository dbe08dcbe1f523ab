// The connections of the HTTP server (Boost.Beast over Asio): accepted,
// read and written asynchronously on a few threads, each request within
// deadlines of its own, whatever the client's pace. The handlers run on
// workers, which a slow client never holds.
//
// Deadlines: a request's headers must arrive within 10 s (of the
// connection, or of the previous answer), its body within 10 s plus its
// size at 64 KiB/s, and an answer must be taken as fast; past them the
// connection is closed. The token is looked up once the headers are in,
// before any body is read.
#pragma once

#include <memory>
#include <string>

#include "http/dispatch.h"
#include "http/event_feed.h"

namespace doorlinkd {

class ConnectionServer {
public:
    ConnectionServer(Dispatcher& dispatcher, EventFeed& feed, Services& services);
    ~ConnectionServer();  // stops
    ConnectionServer(const ConnectionServer&) = delete;
    ConnectionServer& operator=(const ConnectionServer&) = delete;

    // Listens on the address and port (0: a free one) and serves; the port
    // bound. Refused when it cannot listen or load the TLS files.
    int start(const std::string& host, int port);
    // Closes every connection and joins the threads; a handler under way
    // is waited for.
    void stop();

    struct Impl;  // what the connections share, in beast_server.cpp

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace doorlinkd
