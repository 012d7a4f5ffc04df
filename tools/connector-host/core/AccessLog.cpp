#include "tools/connector-host/core/AccessLog.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "tools/connector-host/core/HostLog.hpp"

namespace connectorhost {
namespace {

constexpr std::size_t SHOWN = 200;                     // bytes of a text written at most
constexpr std::size_t WRITE_AT = 64 * 1024;            // pending bytes the flusher writes at once
constexpr std::size_t MOST_PENDING = 4 * 1024 * 1024;  // beyond, a request writes them itself
constexpr std::chrono::milliseconds WRITE_EVERY{100};

// Printable ASCII that JSON takes as it is: the usual text of a field, copied without a pass of
// escaping.
bool isPlain(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c >= 0x20 && c < 0x7F && c != '"' && c != '\\'; });
}

void jsonText(std::string& line, std::string_view text) {
    const bool cut = text.size() > SHOWN;
    if (cut) text = text.substr(0, SHOWN);
    const char* more = cut ? "..." : "";
    if (!isPlain(text)) return appendJsonString(line, escapeLogText(text) + more);
    line += '"';
    line.append(text);
    line += more;
    line += '"';
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
    std::string line;
    appendAccessLine(line, record);
    return line;
}

void appendAccessLine(std::string& line, const AccessRecord& record) {
    line += "{\"time\":\"";
    appendIsoTime(line, record.time);
    line += '"';
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
    writeOut(pending);
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
    std::lock_guard<std::mutex> writing(fileMutex);  // no write of the flusher's under way
    writeOut(pending);
    if (path == "-") return;
    if (descriptor >= 0) ::close(descriptor);
    descriptor = -1;
    open();
}

// A request only formats its line and adds it to what is pending: the writing is the flusher's,
// unless the file falls so far behind that MOST_PENDING bytes wait (then the request writes, so
// that memory stays bounded and nothing is dropped while the file takes it).
void AccessLog::write(const AccessRecord& record) noexcept {
    try {
        thread_local std::string line;  // kept, so that a line costs no allocation
        line.clear();
        appendAccessLine(line, record);
        line += '\n';
        std::lock_guard<std::mutex> lock(mutex);
        const bool first = pending.empty();
        pending += line;
        if (pending.size() >= MOST_PENDING) {
            std::lock_guard<std::mutex> writing(fileMutex);
            writeOut(pending);
        } else if (first || pending.size() >= WRITE_AT) {
            wake.notify_one();
        }
    } catch (...) {
    }
}

// Writes `lines` to the file and empties it; what the file does not take is dropped (a full
// disk must not stop serving). Called with fileMutex held, or alone.
void AccessLog::writeOut(std::string& lines) noexcept {
    std::size_t written = 0;
    while (written < lines.size() && descriptor >= 0) {
        const ssize_t done = ::write(descriptor, lines.data() + written, lines.size() - written);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) break;
        written += static_cast<std::size_t>(done);
    }
    lines.clear();
}

// Writes what is pending every WRITE_EVERY, or as soon as WRITE_AT bytes wait, outside the lock
// that requests take.
void AccessLog::runFlusher() {
    std::string writing;
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        wake.wait(lock, [this] { return stopping || !pending.empty(); });
        wake.wait_for(lock, WRITE_EVERY, [this] { return stopping || pending.size() >= WRITE_AT; });
        if (stopping) return;
        writing.swap(pending);
        std::unique_lock<std::mutex> file(fileMutex);  // always taken after `mutex`
        lock.unlock();
        writeOut(writing);
        file.unlock();
        lock.lock();
    }
}

}  // namespace connectorhost
