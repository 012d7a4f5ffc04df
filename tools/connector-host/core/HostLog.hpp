// connectorhost::logLine and configureLogging: connector-host's diagnostics and the plug-in's,
// through the one Boost.Log core, one line on stderr each, written whole even when several
// threads log at once:
//
//   text:  2026-12-06T22:54:21.123Z warning connector-host: out of file descriptors ...
//   json:  {"time":"2026-12-06T22:54:21.123Z","level":"warning","source":"connector-host",
//           "message":"out of file descriptors ..."}
//
// The time is UTC with milliseconds (Boost.Log's utc_clock attribute); the level is named from
// its number (below 8 debug, below 256 info, below 1024 warning, then error; the plug-in writes
// 8 for progress and 256 for notices); the source is the logger's channel ("connector-host", or
// the plug-in's "connector::information"). One escaping rule for every line: control
// characters, backslashes and bytes that are not UTF-8 are written as \xHH, so that nothing a
// client sent can start a line of its own or reach a terminal as an escape sequence; JSON lines
// then quote that text as JSON strings.
//
// LogThrottle keeps a line that an attacker could repeat at will (a failing connection, an
// exhausted resource, a refusal) to one per interval, and says how many it held back.
// Threads: all of it may be used from any thread. Errors: none; a failed write is ignored.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

#include "tools/connector-host/core/LogOptions.hpp"

namespace connectorhost {

// configureLogging: from now on lines of `minimumLevel` and above, of the host and the plug-in,
// go to stderr in `format`. Call once, before other threads log.
void configureLogging(LogFormat format, unsigned minimumLevel);

// levelName: "debug", "info", "warning" or "error" for a numeric level.
[[nodiscard]] const char* levelName(unsigned level) noexcept;

// escapeLogText: `text` under the one escaping rule above.
[[nodiscard]] std::string escapeLogText(std::string_view text);
// appendJsonString: appends `escaped` (a text escapeLogText gave) as a JSON string: quoted, with
// its quotes and backslashes escaped (it holds no other character JSON must escape).
void appendJsonString(std::string& out, std::string_view escaped);

// appendIsoTime: appends `time` as an ISO-8601 UTC text with milliseconds
// ("2026-12-06T22:54:21.123Z").
void appendIsoTime(std::string& out, std::chrono::system_clock::time_point time);

// logEnabled: whether a line of `level` is written now.
[[nodiscard]] bool logEnabled(unsigned level) noexcept;

// logLine: one line of connector-host's own, at `level`.
void logLine(unsigned level, const std::string& text) noexcept;

// LogThrottle: lines of one kind at `level`, at most one per `interval`; a line written after
// some were held back says how many. Threads: any. Errors: none reach the caller.
class LogThrottle {
  public:
    LogThrottle(unsigned level, std::chrono::steady_clock::duration interval)
        : level(level), interval(interval) {}

    void log(const std::string& text) noexcept {
        logWith([&text] { return text; });
    }
    // logWith: as log, the text made by `makeText` only if it is written (a flood of refusals
    // builds no text of its own).
    template <class MakeText>
    void logWith(MakeText makeText) noexcept {
        std::size_t heldBefore = 0;
        if (!admit(heldBefore)) return;
        try {
            write(makeText(), heldBefore);
        } catch (...) {
        }
    }

  private:
    bool admit(std::size_t& heldBefore) noexcept;
    void write(const std::string& text, std::size_t heldBefore) noexcept;

    const unsigned level;
    const std::chrono::steady_clock::duration interval;
    std::mutex mutex;
    std::chrono::steady_clock::time_point last{};
    bool logged = false;
    std::size_t held = 0;
};

}  // namespace connectorhost
