// connectorhost::HttpFrontEnd: serves POST /messages on 127.0.0.1:<port> with POCO Net, one
// envelope per request body and one answer as the response body. Several clients are served at
// once (POCO's server thread pool). Status: 200 for an answer, 400 for a bad envelope, 413 for a
// body over the limit, 404 / 405 for another path or method, 500 when a service fails.
// Threads: start and stop from one thread; requests run on the server's threads.
#pragma once

#include <cstdint>
#include <memory>

#include "tools/connector-host/EnvelopeProcessor.hpp"

namespace Poco::Net {
class HTTPServer;
}

namespace connectorhost {

class HttpFrontEnd {
  public:
    // port 0 picks a free port (see port()).
    HttpFrontEnd(EnvelopeProcessor& processor, std::uint16_t port);
    ~HttpFrontEnd();

    void start();
    void stop();
    [[nodiscard]] std::uint16_t port() const;

  private:
    std::unique_ptr<Poco::Net::HTTPServer> server_;
};

}  // namespace connectorhost
