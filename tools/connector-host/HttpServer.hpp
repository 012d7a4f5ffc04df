// connectorhost::HttpServer: what runs behind HttpFrontEnd: the listening socket, the open
// connections (HttpConnection), the event loop's threads and the workers that process envelopes.
//
// Connections: at most options.maxConnections are open. When a client is waiting and the cap (or
// the open-files limit) is reached, one open connection is reclaimed (chooseReclaim: an idle one,
// else a stalled request) and the client is accepted; when none can be reclaimed the client waits
// for a slot, or, out of descriptors, is accepted on the spare descriptor and refused with 503.
//
// Threads: the event loop runs on its own thread; each connection's handlers run on the
// connection's strand, the acceptor's on a strand of its own; the connection registry is guarded
// by a mutex. start, beginStop, stopNow, waitStopped and join may be called from any one thread;
// the members below the "for connections" line are what connections use, from any thread.
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/thread_pool.hpp>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_set>
#include <vector>

#include "tools/connector-host/HostLog.hpp"
#include "tools/connector-host/HttpFrontEnd.hpp"
#include "tools/connector-host/OpenFiles.hpp"

namespace connectorhost {

class HttpConnection;

class HttpServer {
  public:
    HttpServer(EnvelopeProcessor& processor, HttpOptions options);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    void start();
    // beginStop: the port closes, connections without a request in hand close, requests in hand
    // are answered until the drain time-out, when the rest get 503 "stopping".
    void beginStop();
    // stopNow: cuts the drain short: requests in hand get 503 "stopping" at once.
    void stopNow();
    // waitStopped: returns once every connection is closed and the event loop has ended.
    void waitStopped();
    // join: waits for the workers; call after waitStopped (and after the services stopped).
    void join();
    [[nodiscard]] std::uint16_t port() const noexcept { return policy.port; }

    // ---- for connections
    void opened(HttpConnection* connection);
    void closed(HttpConnection* connection, bool reclaimed) noexcept;
    // becameIdle: a connection may now be reclaimed for a client waiting at the cap.
    void becameIdle() noexcept;
    // submit: runs `work` on a worker.
    template <class F>
    void submit(F&& work) {
        boost::asio::post(pool, std::forward<F>(work));
    }

    EnvelopeProcessor& processor;
    const HttpOptions options;
    HttpPolicy policy;
    std::atomic<bool> stopping{false};
    std::atomic<bool> abandoned{false};    // at the drain deadline: queued requests are not served
    std::atomic<bool> tearingDown{false};  // the event loop has ended
    LogThrottle failures{std::chrono::seconds(1)};

  private:
    void accept();
    void acceptSoon();  // after a short pause
    void pauseAccept();
    void resumeAccept();
    void onAccepted(const boost::system::error_code& error, boost::asio::ip::tcp::socket socket);
    void outOfDescriptors();
    bool refuseWithSpare();
    bool reclaimOne();
    [[nodiscard]] bool atCap();
    void afterClose();
    void drainDeadline();
    void forEachConnection(void (HttpConnection::*action)());
    template <class F>
    void guardedAccept(F&& step) noexcept;

    // Declared before the io_context, so that they outlive the connections its destruction
    // releases.
    std::mutex registryMutex;
    std::unordered_set<HttpConnection*> connections;
    std::size_t reclaiming = 0;  // reclaimed connections not yet closed

    boost::asio::io_context ioc{1};
    boost::asio::strand<boost::asio::io_context::executor_type> acceptStrand{ioc.get_executor()};
    boost::asio::ip::tcp::acceptor acceptor{acceptStrand};
    boost::asio::steady_timer drainTimer{acceptStrand};
    boost::asio::steady_timer acceptRetry{acceptStrand};
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>>
        keepRunning{ioc.get_executor()};
    SpareDescriptor spare;
    std::atomic<bool> acceptPaused{false};  // until a connection closes or becomes idle
    bool descriptorsShort = false;          // since the last accept that worked
    std::size_t openFilesLimit = 0;
    boost::asio::thread_pool pool;
    std::thread ioThread;
};

}  // namespace connectorhost
