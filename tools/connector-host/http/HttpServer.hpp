// connectorhost::HttpServer: what runs behind HttpFrontEnd: the listening socket, the open
// connections (HttpConnection) and the threads of the event loop, which also process envelopes.
//
// Connections: at most options.maxConnections are open. When a client is waiting and the cap (or
// the open-files limit) is reached, one open connection is reclaimed (chooseReclaim: an idle one,
// else a stalled request) and the client is accepted; when none can be reclaimed the client waits
// for a slot, or, out of descriptors, is accepted on the spare descriptor and refused with 503.
//
// Processing: a request is read, processed and answered on the thread of its connection's event
// loop (EventLoops: one per CPU, up to options.workers), so that it crosses no thread; a request
// that blocks its thread gets its loop a helper. At most options.workers requests are processed
// at once (takeSlot); those beyond wait in line, in order of arrival. The listening socket, the
// deadlines and the stop run on a control loop of their own, so that they go on however long the
// engine makes requests wait.
//
// Threads: each connection's handlers run on the connection's strand, the control loop's on its
// one thread; the connection registry and the line of waiting requests are guarded by mutexes.
// start, beginStop, stopNow, waitStopped and join may be called from any one thread; what
// connections use of the server is its ConnectionOwner side, from any thread.
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_set>
#include <vector>

#include "tools/connector-host/core/HostLog.hpp"
#include "tools/connector-host/http/ConnectionOwner.hpp"
#include "tools/connector-host/http/EventLoops.hpp"
#include "tools/connector-host/http/HttpOptions.hpp"
#include "tools/connector-host/http/HttpPolicy.hpp"
#include "tools/connector-host/http/OpenFiles.hpp"

namespace connectorhost {

class EnvelopeProcessor;
class RequestLog;

// At most one warning per kind of refusal (and of reclaim) in this time: a flood cannot fill a
// disk with them.
inline constexpr std::chrono::seconds REFUSAL_LOG_INTERVAL{10};

class HttpServer : private ConnectionOwner {
  public:
    HttpServer(EnvelopeProcessor& processor, RequestLog& requests, HttpOptions options);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    void start();
    // beginStop: the port closes, connections without a request in hand close, requests in hand
    // are answered until the drain time-out, when the rest get 503 "stopping".
    void beginStop();
    // stopNow: cuts the drain short: requests in hand get 503 "stopping" at once.
    void stopNow();
    // waitStopped: returns once every connection is closed and the event loops have ended.
    void waitStopped();
    // join: releases what is left; call after waitStopped.
    void join();
    // onDrainDeadline: `action` runs once at the drain deadline (or at stopNow), before requests
    // still in hand are refused: the host stops its services there, so that requests still
    // being processed return promptly. Set before start().
    void onDrainDeadline(std::function<void()> action) { atDrainDeadline = std::move(action); }
    [[nodiscard]] std::uint16_t port() const noexcept { return httpPolicy.port; }

  private:
    // ConnectionOwner
    const HttpOptions& options() const noexcept override { return httpOptions; }
    const HttpPolicy& policy() const noexcept override { return httpPolicy; }
    EnvelopeProcessor& processor() noexcept override { return envelopes; }
    RequestLog& requestLog() noexcept override { return requests; }
    std::string metricsText() override;
    void refused(ErrorKind kind, const std::string& peer) noexcept override;
    bool isStopping() const noexcept override { return stopping; }
    bool isAbandoned() const noexcept override { return abandoned; }
    void logFailure(const std::string& text) noexcept override { failures.log(text); }
    void opened(HttpConnection& connection) override;
    void closed(HttpConnection& connection, bool reclaimed) noexcept override;
    void reclaimWithdrawn() noexcept override;
    void becameIdle() noexcept override;
    bool takeSlot(const std::shared_ptr<HttpConnection>& connection) override;
    void releaseSlot() override;

    [[nodiscard]] static std::size_t loopCount(const HttpOptions& options);
    void runControl() noexcept;
    void accept();
    void acceptSoon();  // after a short pause
    void pauseAccept();
    void resumeAccept();
    void onAccepted(const boost::system::error_code& error, boost::asio::ip::tcp::socket socket,
                    boost::asio::io_context& loop);
    void outOfDescriptors();
    bool refuseWithSpare();
    bool reclaimOne();
    [[nodiscard]] bool atCap();
    [[nodiscard]] bool reclaimsPending();
    void afterClose();
    void drainDeadline();
    void sweepDeadlines();
    void forEachConnection(void (HttpConnection::*action)());
    template <class F>
    void guardedAccept(F&& step) noexcept;

    EnvelopeProcessor& envelopes;
    RequestLog& requests;
    const HttpOptions httpOptions;
    HttpPolicy httpPolicy;
    std::atomic<bool> stopping{false};
    std::atomic<bool> abandoned{false};    // at the drain deadline: queued requests are not served
    std::atomic<bool> tearingDown{false};  // the event loops have ended
    LogThrottle failures{log_level::ERROR, std::chrono::seconds(1)};
    // Of descriptors: each time they run out.
    LogThrottle shortages{log_level::WARNING, std::chrono::seconds(5)};
    // Refusals an operator should hear of, one line per kind per REFUSAL_LOG_INTERVAL.
    std::vector<std::pair<ErrorKind, std::unique_ptr<LogThrottle>>> refusalLogs;
    LogThrottle reclaimLog{log_level::WARNING, REFUSAL_LOG_INTERVAL};

    // Checked and raised before anything of serving opens a descriptor.
    const OpenFilesLimit openFiles;
    // Declared before the event loops, so that they outlive the connections the loops' destruction
    // releases.
    std::mutex registryMutex;
    std::unordered_set<HttpConnection*> connections;
    std::size_t reclaiming = 0;  // reclaimed connections not yet closed

    EventLoops loops;
    boost::asio::io_context control;
    boost::asio::strand<boost::asio::io_context::executor_type> acceptStrand{
        control.get_executor()};
    boost::asio::ip::tcp::acceptor acceptor{acceptStrand};
    boost::asio::steady_timer drainTimer{acceptStrand};
    boost::asio::steady_timer acceptRetry{acceptStrand};
    boost::asio::steady_timer deadlineSweep{acceptStrand};
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>>
        keepRunning{control.get_executor()};
    SpareDescriptor spare;
    std::atomic<bool> acceptPaused{false};  // until a connection closes or becomes idle
    bool descriptorsShort = false;          // since the last accept that worked
    std::function<void()> atDrainDeadline;
    std::mutex slotMutex;
    std::size_t busySlots = 0;
    std::deque<std::shared_ptr<HttpConnection>> waitingForSlot;
    std::thread controlThread;
};

// guardedAccept: runs one step of the control loop; should it raise, accepting goes on shortly.
template <class F>
void HttpServer::guardedAccept(F&& step) noexcept {
    try {
        step();
        return;
    } catch (const std::exception& error) {
        failures.log(std::string("accepting a connection failed: ") + error.what());
    } catch (...) {
        failures.log("accepting a connection failed");
    }
    try {
        acceptSoon();  // rather than stop accepting
    } catch (...) {
    }
}

}  // namespace connectorhost
