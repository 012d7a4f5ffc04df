// connectorhost::HttpOptions: how the HTTP front end serves (HttpFrontEnd): its port, connection
// cap, processing slots, time-outs and who may send requests. A plain value.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace connectorhost {

struct HttpOptions {
    std::uint16_t port = 0;  // 0 picks a free port (see HttpFrontEnd::port())
    std::size_t maxConnections = 64;
    std::size_t workers = 4;                          // requests processed at once
    std::chrono::milliseconds requestTimeout{10000};  // head and body of one request
    std::chrono::milliseconds idleTimeout{5000};      // between requests of a connection
    std::chrono::milliseconds drainTimeout{5000};     // for requests in flight at a stop
    std::vector<std::string> allowedOrigins;
    std::string token;  // bearer token; empty: none required
};

}  // namespace connectorhost
