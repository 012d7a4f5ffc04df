// connectorhost::logLine: connector-host's own diagnostics, one line on stderr each
// ("connector-host: " and the text, control characters and bytes outside ASCII as \xHH), written
// whole even when several threads log at once. LogThrottle keeps a line that an attacker could
// repeat at will (a failing connection, an exhausted resource) to one per interval, and says how
// many it held back. Threads: both may be used from any thread. Errors: none; a failed write
// to stderr is ignored.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>

namespace connectorhost {

void logLine(const std::string& text) noexcept;

class LogThrottle {
  public:
    explicit LogThrottle(std::chrono::steady_clock::duration interval) : interval(interval) {}

    void log(const std::string& text) noexcept;

  private:
    const std::chrono::steady_clock::duration interval;
    std::mutex mutex;
    std::chrono::steady_clock::time_point last{};
    bool logged = false;
    std::size_t held = 0;
};

}  // namespace connectorhost
