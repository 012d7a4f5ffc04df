#include "tools/connector-host/core/HostLog.hpp"

#include <unistd.h>

#include "tools/connector-host/core/ErrorKind.hpp"

namespace connectorhost {

void logLine(const std::string& text) noexcept {
    try {
        std::string line = "connector-host: " + printable(text, true);
        line += '\n';
        // One write call: lines of several threads never interleave.
        const ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
        (void)ignored;
    } catch (...) {
    }
}

void LogThrottle::log(const std::string& text) noexcept {
    try {
        const auto now = std::chrono::steady_clock::now();
        std::size_t before = 0;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (logged && now - last < interval) {
                ++held;
                return;
            }
            logged = true;
            last = now;
            before = held;
            held = 0;
        }
        logLine(before == 0 ? text
                            : text + " (and " + std::to_string(before) + " more since the last)");
    } catch (...) {
    }
}

}  // namespace connectorhost
