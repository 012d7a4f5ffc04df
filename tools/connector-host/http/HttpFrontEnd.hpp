// connectorhost::HttpFrontEnd: serves POST /messages on 127.0.0.1:<port>, one envelope per request
// body and one answer as the response body (HTTP/1.1, keep-alive).
//
// Network I/O is asynchronous (Boost.Beast), so that slow or idle clients cost a buffer each,
// never a thread; their deadlines are kept by one sweep. A request is read, processed and
// answered on the thread of its connection's event loop (one loop per CPU, at most `workers`;
// at most `workers` requests are processed at once, and a loop whose threads are all held up
// by the engine gets a helper thread), and crosses no thread on its way.
//
//   - Framing follows HTTP/1.1 to the letter (HttpRequestParser): only "chunked" or one plain
//     Content-Length frames a body; anything ambiguous is refused and its connection closed, and
//     no byte after a framing fault is ever read as a request.
//   - Every limit covers the whole request: head and trailer (8 KiB, 431), chunk extensions
//     (400), body (413, as soon as a declared length is known); a request's head and body must
//     arrive within the request time-out, a kept-alive connection may idle for the idle time-out.
//   - A request head is judged (HttpPolicy) before its body is read; a refused request is
//     answered with "Connection: close" and its body never read as another request.
//   - At most maxConnections are open. At the cap, idle connections (then stalled requests) are
//     reclaimed for waiting clients; out of file descriptors, a client that cannot be served is
//     refused with 503 at once.
//   - An exception while serving a connection ends that connection only, and is logged.
//
// Status: 200 for an answer, the status of the error kind otherwise (ErrorKind.hpp).
//
// Stop: beginStop() closes the port and the connections without a request in hand; requests in
// hand are answered as they finish. At the drain time-out (or at stopNow()) the action given to
// onDrainDeadline runs (the host stops its services there, so that requests still being
// processed return promptly) and the requests still in hand are answered 503 "stopping".
// waitStopped() returns once every connection is closed; join() releases what is left.
//
// Errors: the constructor throws std::runtime_error "127.0.0.1:P is already in use" when the port
// is taken (it is bound exclusively), and when the open-files limit leaves no room for a
// connection. Threads: construct, start, beginStop, waitStopped and join from one thread; stopNow
// from any.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "tools/connector-host/http/HttpOptions.hpp"

namespace connectorhost {

class EnvelopeProcessor;
class RequestLog;
class HttpServer;

class HttpFrontEnd {
  public:
    // Every request answered is told to `requests` (metrics, access log).
    HttpFrontEnd(EnvelopeProcessor& processor, RequestLog& requests, HttpOptions options);
    ~HttpFrontEnd();
    HttpFrontEnd(const HttpFrontEnd&) = delete;
    HttpFrontEnd& operator=(const HttpFrontEnd&) = delete;

    // start: serves from now on.
    void start();
    // beginStop: starts the stop described above and returns at once.
    void beginStop();
    // stopNow: cuts a stop's drain short.
    void stopNow();
    // waitStopped: returns once every connection is closed.
    void waitStopped();
    // join: releases what is left. Call after waitStopped().
    void join();
    // onDrainDeadline: what to run at the drain deadline (see above). Call before start().
    void onDrainDeadline(std::function<void()> action);
    [[nodiscard]] std::uint16_t port() const;

  private:
    std::unique_ptr<HttpServer> server;
};

}  // namespace connectorhost
