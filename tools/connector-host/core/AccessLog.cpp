#include "tools/connector-host/core/AccessLog.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "tools/connector-host/core/HostLog.hpp"

namespace connectorhost {
namespace {

constexpr std::size_t SHOWN = 200;           // bytes of a text written at most
constexpr std::size_t FLUSH_AT = 16 * 1024;  // pending bytes that are written at once
constexpr std::chrono::milliseconds FLUSH_EVERY{100};

void jsonText(std::string& line, std::string_view text) {
    const bool cut = text.size() > SHOWN;
    const std::string escaped = escapeLogText(cut ? text.substr(0, SHOWN) : text);
    line += '"';
    for (const char c : escaped) {
        if (c == '"' || c == '\\') line += '\\';
        line += c;
    }
    line += cut ? "...\"" : "\"";
}

void member(std::string& line, const char* name, std::string_view text) {
    line += ",\"";
    line += name;
    line += "\":";
    jsonText(line, text);
}

void member(std::string& line, const char* name, std::uint64_t number) {
    line += ",\"";
    line += name;
    line += "\":";
    line += std::to_string(number);
}

}  // namespace

std::string accessLine(const AccessRecord& record) {
    std::string line = "{\"time\":\"" + isoTime(record.time) + "\"";
    member(line, "peer", record.peer);
    const bool http = record.status != 0;
    if (http) {
        member(line, "method", record.method);
        member(line, "path", record.path);
    }
    if (record.session.empty())
        line += ",\"session\":null";
    else
        member(line, "session", record.session);
    if (record.type.empty())
        line += ",\"type\":null";
    else
        member(line, "type", record.type);
    if (http) member(line, "status", record.status);
    if (record.error)
        member(line, "error", wireName(*record.error));
    else
        line += ",\"error\":null";
    member(line, "bytesIn", record.bytesIn);
    member(line, "bytesOut", record.bytesOut);
    member(line, "durationUs", static_cast<std::uint64_t>(record.duration.count()));
    line += '}';
    return line;
}

AccessLog::AccessLog(std::string path) : path(std::move(path)) {
    open();
    flusher = std::thread([this] { runFlusher(); });
}

AccessLog::~AccessLog() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    flusher.join();
    std::lock_guard<std::mutex> lock(mutex);
    flushLocked();
    if (descriptor > STDERR_FILENO) ::close(descriptor);
}

void AccessLog::open() {
    if (path == "-") {
        descriptor = STDOUT_FILENO;
        return;
    }
    descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
    if (descriptor < 0)
        throw std::runtime_error("cannot open access log " + path + ": " + std::strerror(errno));
}

void AccessLog::reopen() {
    std::lock_guard<std::mutex> lock(mutex);
    flushLocked();
    if (path == "-") return;
    if (descriptor >= 0) ::close(descriptor);
    descriptor = -1;
    open();
}

void AccessLog::write(const AccessRecord& record) noexcept {
    try {
        std::string line = accessLine(record);
        line += '\n';
        std::lock_guard<std::mutex> lock(mutex);
        const bool first = pending.empty();
        pending += line;
        if (pending.size() >= FLUSH_AT)
            flushLocked();
        else if (first)
            wake.notify_one();  // the flusher writes it within FLUSH_EVERY
    } catch (...) {
    }
}

// Writes what is pending, whole lines only; what the file does not take is dropped.
void AccessLog::flushLocked() noexcept {
    std::size_t written = 0;
    while (written < pending.size() && descriptor >= 0) {
        const ssize_t done =
            ::write(descriptor, pending.data() + written, pending.size() - written);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) break;
        written += static_cast<std::size_t>(done);
    }
    pending.clear();
}

void AccessLog::runFlusher() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        wake.wait(lock, [this] { return stopping || !pending.empty(); });
        if (stopping) return;
        wake.wait_for(lock, FLUSH_EVERY, [this] { return stopping; });
        flushLocked();
    }
}

}  // namespace connectorhost
