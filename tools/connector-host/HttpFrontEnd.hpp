// connectorhost::HttpFrontEnd: serves POST /messages on 127.0.0.1:<port>, one envelope per request
// body and one answer as the response body (HTTP/1.1, keep-alive).
//
// Network I/O runs on one thread of its own, asynchronously (Boost.Beast), so that slow or idle
// clients cost a timer and a buffer each, never a thread: a request's head and body must arrive
// within the request time-out, a kept-alive connection may sit idle for the idle time-out, and
// at most maxConnections are open (further clients wait in the listen queue). Envelopes are
// processed on a fixed pool of worker threads. A request head is judged (judgeRequest) before its
// body is read; a refused request is answered with "Connection: close" and its body is never
// read as another request.
//
// Status: 200 for an answer, 400 for a bad envelope or HTTP request, 401, 403, 404, 405 and 415
// as judged, 413 as soon as a body is known to be over the limit, 431 for an oversized head,
// 500 when a service fails, 503 for requests cut off by a stop.
//
// Stop (stop(), then join()): the port closes, idle and half-received connections close,
// requests already received are answered as they finish; those unfinished at the drain time-out
// are answered 503 "stopping". join() then waits for the workers, which the caller makes return
// promptly by stopping the services first.
//
// Errors: the constructor throws std::runtime_error "127.0.0.1:P is already in use" when the port
// is taken (it is bound exclusively). Threads: construct, start, stop and join from one thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "tools/connector-host/EnvelopeProcessor.hpp"
#include "tools/connector-host/HttpPolicy.hpp"

namespace connectorhost {

struct HttpOptions {
    std::uint16_t port = 0;  // 0 picks a free port (see port())
    std::size_t maxConnections = 64;
    std::size_t workers = 4;
    std::chrono::milliseconds requestTimeout{10000};  // head and body of one request
    std::chrono::milliseconds idleTimeout{5000};      // between requests of a connection
    std::chrono::milliseconds drainTimeout{5000};     // for requests in flight at a stop
    std::vector<std::string> allowedOrigins;
    std::string token;  // bearer token; empty: none required
};

class HttpFrontEnd {
  public:
    HttpFrontEnd(EnvelopeProcessor& processor, HttpOptions options);
    ~HttpFrontEnd();
    HttpFrontEnd(const HttpFrontEnd&) = delete;
    HttpFrontEnd& operator=(const HttpFrontEnd&) = delete;

    // start: serves from now on.
    void start();
    // stop: stops serving as described above; returns once every connection is closed.
    void stop();
    // join: waits for the workers to finish what they run. Call after stop().
    void join();
    [[nodiscard]] std::uint16_t port() const;

    class Server;

  private:
    std::unique_ptr<Server> server_;
};

}  // namespace connectorhost
