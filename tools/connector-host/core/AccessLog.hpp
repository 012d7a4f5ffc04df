// connectorhost::AccessLog: one JSON line per request served, HTTP or stdin, in a file or on
// stdout ("-"), for operators and their tools (jq, log shippers):
//
//   {"time":"2026-12-06T22:54:21.123Z","peer":"127.0.0.1:51234","method":"POST",
//    "path":"/messages","session":"s1","type":"EnabledFeatures","status":200,"error":null,
//    "bytesIn":118,"bytesOut":402,"durationUs":61}
//
// A stdin line has "peer":"stdin" and no method, path or status. Nothing of a request's body
// beyond its session and message type, and no header value, is ever written; every text is
// escaped (HostLog's rule) and cut to 200 bytes, so that a line never breaks whatever a client
// sent. A thread of its own writes the lines within 100 ms (at once from 64 KiB), on reopen()
// and at the end; requests only add their line to a buffer, and write themselves only when 4 MiB
// wait (a disk that cannot keep up slows them rather than memory growing).
//
// reopen: the file is closed and opened again (after logrotate moved it; SIGHUP).
// Threads: write and reopen may be called from any thread at once. Errors: the constructor throws
// std::runtime_error when the file cannot be opened; later write failures are dropped silently
// (a full disk must not stop serving).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "tools/connector-host/core/ErrorKind.hpp"

namespace connectorhost {

// AccessRecord: what one request was and what became of it.
struct AccessRecord {
    std::chrono::system_clock::time_point time;  // when it began
    std::string_view peer;                       // "127.0.0.1:51234", or "stdin"
    std::string_view method;                     // HTTP only
    std::string_view path;                       // HTTP only, without the query
    std::string_view session;                    // as the envelope named it, if valid
    std::string_view type;                       // short message type, if known
    unsigned status = 0;                         // HTTP only
    std::optional<ErrorKind> error;
    std::size_t bytesIn = 0;
    std::size_t bytesOut = 0;
    std::chrono::microseconds duration{0};
};

// accessLine: the record as one line of JSON, without the newline; appendAccessLine appends it.
[[nodiscard]] std::string accessLine(const AccessRecord& record);
void appendAccessLine(std::string& line, const AccessRecord& record);

class AccessLog {
  public:
    explicit AccessLog(std::string path);  // "-": stdout
    ~AccessLog();
    AccessLog(const AccessLog&) = delete;
    AccessLog& operator=(const AccessLog&) = delete;

    void write(const AccessRecord& record) noexcept;
    void reopen();

  private:
    void open();
    void writeOut(std::string& lines) noexcept;
    void runFlusher();

    const std::string path;
    int descriptor = -1;
    std::mutex fileMutex;  // held while the descriptor is written or replaced
    std::mutex mutex;      // guards what follows
    std::condition_variable wake;
    std::string pending;
    bool stopping = false;
    std::thread flusher;
};

}  // namespace connectorhost
