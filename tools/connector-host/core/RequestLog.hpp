// connectorhost::RequestLog: what becomes of each request either front end answered: it is
// counted (Metrics), written to the access log when one is kept, and told in a line at debug
// level. The front ends fill in an AccessRecord; nothing is formatted that nobody reads.
//
// Threads: any thread. Errors: none leave it.
#pragma once

#include <cstddef>

#include "tools/connector-host/core/AccessLog.hpp"
#include "tools/connector-host/core/Metrics.hpp"

namespace connectorhost {

class RequestLog {
  public:
    RequestLog(Metrics& metrics, AccessLog* accessLog) : metrics(metrics), accessLog(accessLog) {}

    // served: an envelope was served; `type` is its index in the runtime's message types.
    void served(AccessRecord record, std::size_t type) noexcept;
    // answered: an HTTP request answered without an envelope being served (a refusal, the page,
    // health or metrics).
    void answered(const AccessRecord& record) noexcept;

    Metrics& metrics;

  private:
    void tell(const AccessRecord& record) noexcept;

    AccessLog* const accessLog;
};

}  // namespace connectorhost
