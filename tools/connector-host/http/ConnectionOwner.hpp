// connectorhost::ConnectionOwner: what an HttpConnection needs of the server that accepted it, and
// nothing more: the settings it serves by, the processor of its requests and the log of what
// became of them, the state of a stop, the registry of open connections (for the cap and its
// reclaim) and the processing slots.
//
// Threads: every member may be called from any connection's strand at once. Ownership: the owner
// outlives its connections (it releases them before it ends).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace connectorhost {

class EnvelopeProcessor;
class HttpConnection;
class RequestLog;
enum class ErrorKind;
struct HttpOptions;
struct HttpPolicy;

class ConnectionOwner {
  public:
    [[nodiscard]] virtual const HttpOptions& options() const noexcept = 0;
    [[nodiscard]] virtual const HttpPolicy& policy() const noexcept = 0;
    [[nodiscard]] virtual EnvelopeProcessor& processor() noexcept = 0;
    [[nodiscard]] virtual RequestLog& requestLog() noexcept = 0;
    // metricsText: the host's figures, for GET /metrics.
    [[nodiscard]] virtual std::string metricsText() = 0;
    // refused: a request was refused in a way an operator should hear of (throttled per kind).
    virtual void refused(ErrorKind kind, const std::string& peer) noexcept = 0;
    // isStopping: the host is stopping: no new request is read, no connection kept alive.
    [[nodiscard]] virtual bool isStopping() const noexcept = 0;
    // isAbandoned: the drain deadline has passed: requests still in hand are refused.
    [[nodiscard]] virtual bool isAbandoned() const noexcept = 0;
    // logFailure: a connection failed in a way worth telling (throttled).
    virtual void logFailure(const std::string& text) noexcept = 0;

    // opened / closed: the connection counts against the cap from opened until closed.
    virtual void opened(HttpConnection& connection) = 0;
    virtual void closed(HttpConnection& connection, bool reclaimed) noexcept = 0;
    // reclaimWithdrawn: a reclaimed connection found a request waiting and stays open.
    virtual void reclaimWithdrawn() noexcept = 0;
    // becameIdle: the connection may now be reclaimed for a client waiting at the cap.
    virtual void becameIdle() noexcept = 0;
    // takeSlot: whether `connection` may process its request now; otherwise it waits in line
    // and its processQueued() runs, holding the slot, once one frees.
    [[nodiscard]] virtual bool takeSlot(const std::shared_ptr<HttpConnection>& connection) = 0;
    // releaseSlot: passes the slot to the next request in line, or frees it.
    virtual void releaseSlot() = 0;

  protected:
    ConnectionOwner() = default;
    ~ConnectionOwner() = default;
    ConnectionOwner(const ConnectionOwner&) = delete;
    ConnectionOwner& operator=(const ConnectionOwner&) = delete;
};

}  // namespace connectorhost
