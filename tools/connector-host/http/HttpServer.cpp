#include "tools/connector-host/http/AsioSupport.hpp"

#include "tools/connector-host/http/HttpServer.hpp"

#include <algorithm>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>

#include "tools/connector-host/core/EnvelopeProcessor.hpp"
#include "tools/connector-host/core/RequestLog.hpp"
#include "tools/connector-host/http/HttpConnection.hpp"

namespace connectorhost {
namespace {

using boost::system::error_code;

}  // namespace

HttpServer::HttpServer(EnvelopeProcessor& processor, RequestLog& requests, HttpOptions options)
    : envelopes(processor)
    , requests(requests)
    , httpOptions(std::move(options))
    , httpPolicy{0, httpOptions.allowedOrigins, httpOptions.token}
    // Each event loop (and the control loop) holds three descriptors; the listening socket and
    // the spare one more each.
    , openFiles(prepareOpenFiles(httpOptions.maxConnections, 3 * (loopCount(httpOptions) + 1) + 2))
    , loops(loopCount(httpOptions), std::max<std::size_t>(1, httpOptions.workers)) {
    for (const ErrorKind kind :
         {ErrorKind::ForbiddenHost, ErrorKind::ForbiddenOrigin, ErrorKind::Unauthorized,
          ErrorKind::TooLarge, ErrorKind::HeadTooLarge, ErrorKind::Overloaded})
        refusalLogs.emplace_back(
            kind, std::make_unique<LogThrottle>(log_level::WARNING, REFUSAL_LOG_INTERVAL));
    if (openFiles.limit < openFiles.needed)
        logLine(log_level::WARNING,
                "the open-files limit of " + std::to_string(openFiles.limit) + " is below the " +
                    std::to_string(openFiles.needed) + " that " +
                    std::to_string(httpOptions.maxConnections) +
                    " connections need; when descriptors run out, idle connections are reclaimed "
                    "and other clients refused with 503");

    const tcp::endpoint endpoint(net::ip::make_address_v4("127.0.0.1"), httpOptions.port);
    error_code error;
    acceptor.open(endpoint.protocol());
    // Lets a restarted host take its port back from connections in TIME_WAIT; on Linux it never
    // lets a second socket bind while this one listens (unlike SO_REUSEPORT).
    acceptor.set_option(tcp::acceptor::reuse_address(true));
    acceptor.bind(endpoint, error);
    if (error == net::error::address_in_use)
        throw std::runtime_error("127.0.0.1:" + std::to_string(httpOptions.port) +
                                 " is already in use");
    if (error) throw std::runtime_error("cannot bind 127.0.0.1: " + error.message());
    acceptor.listen(net::socket_base::max_listen_connections);
    acceptor.non_blocking(true);  // for the one accept that is not asynchronous (refuseWithSpare)
    httpPolicy.port = acceptor.local_endpoint().port();
}

// One event loop per CPU, and no more than the requests processed at once.
std::size_t HttpServer::loopCount(const HttpOptions& options) {
    return std::min<std::size_t>(std::max<std::size_t>(1, options.workers),
                                 std::max(1u, std::thread::hardware_concurrency()));
}

HttpServer::~HttpServer() {
    beginStop();
    waitStopped();
    join();
}

void HttpServer::start() {
    net::dispatch(acceptStrand, [this] {
        guardedAccept([this] {
            accept();
            sweepDeadlines();
        });
    });
    loops.start();
    controlThread = std::thread([this] { runControl(); });
}

// A handler that lets an exception through must not end the process: go on serving.
void HttpServer::runControl() noexcept {
    for (;;) {
        try {
            control.run();
            return;
        } catch (const std::exception& error) {
            failures.log(std::string("the control loop caught: ") + error.what());
        } catch (...) {
            failures.log("the control loop caught an exception of unknown type");
        }
    }
}

void HttpServer::refused(ErrorKind kind, const std::string& peer) noexcept {
    for (auto& [logged, throttle] : refusalLogs)
        if (logged == kind)
            throttle->logWith([&] {
                return "refused a request from " + peer + ": " + std::to_string(httpStatus(kind)) +
                       " " + wireName(kind);
            });
}

std::string HttpServer::metricsText() {
    Metrics::Gauges gauges;
    gauges.sessions = envelopes.sessionCount();
    std::lock_guard<std::mutex> lock(registryMutex);
    gauges.openConnections = connections.size();
    gauges.idleConnections = static_cast<std::size_t>(std::count_if(
        connections.begin(), connections.end(),
        [](const HttpConnection* c) { return c->activity().phase == ConnectionPhase::Idle; }));
    return requests.metrics.exposition(gauges);
}

bool HttpServer::takeSlot(const std::shared_ptr<HttpConnection>& connection) {
    std::lock_guard<std::mutex> lock(slotMutex);
    if (busySlots < std::max<std::size_t>(1, httpOptions.workers)) {
        ++busySlots;
        return true;
    }
    waitingForSlot.push_back(connection);
    return false;
}

void HttpServer::releaseSlot() {
    std::shared_ptr<HttpConnection> next;
    {
        std::lock_guard<std::mutex> lock(slotMutex);
        if (waitingForSlot.empty()) {
            --busySlots;
            return;
        }
        next = std::move(waitingForSlot.front());
        waitingForSlot.pop_front();
    }
    next->processQueued();
}

void HttpServer::opened(HttpConnection& connection) {
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        connections.insert(&connection);
    }
    loops.add(connection.eventLoop());
}

void HttpServer::closed(HttpConnection& connection, bool reclaimed) noexcept {
    loops.release(connection.eventLoop());
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        connections.erase(&connection);
        if (reclaimed && reclaiming > 0) --reclaiming;
    }
    if (reclaimed) requests.metrics.countReclaim();
    if (tearingDown) return;
    try {
        net::post(acceptStrand, [this] { guardedAccept([this] { afterClose(); }); });
    } catch (...) {
    }
}

void HttpServer::afterClose() {
    if (stopping) {
        std::lock_guard<std::mutex> lock(registryMutex);
        if (connections.empty()) {
            drainTimer.cancel();
            deadlineSweep.cancel();
            keepRunning.reset();
        }
        return;
    }
    resumeAccept();
}

// Connections past their deadline close: a few times per shortest time-out, at most four times a
// second, so that a deadline is kept to within a quarter of its time-out (or 250 ms).
void HttpServer::sweepDeadlines() {
    std::vector<std::shared_ptr<HttpConnection>> overdue;
    bool nothingOpen = false;
    {
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard<std::mutex> lock(registryMutex);
        for (HttpConnection* connection : connections)
            if (connection->isOverdue(now))
                if (auto held = connection->weak_from_this().lock())
                    overdue.push_back(std::move(held));
        nothingOpen = connections.empty();
    }
    for (const auto& connection : overdue) connection->expire();
    if (stopping && nothingOpen) return;  // the event loop may end
    const auto shortest = std::min(httpOptions.requestTimeout, httpOptions.idleTimeout) / 4;
    deadlineSweep.expires_after(std::clamp<std::chrono::milliseconds>(
        std::chrono::duration_cast<std::chrono::milliseconds>(shortest),
        std::chrono::milliseconds(1), std::chrono::milliseconds(250)));
    deadlineSweep.async_wait([this](const error_code& error) {
        if (!error) guardedAccept([this] { sweepDeadlines(); });
    });
}

void HttpServer::forEachConnection(void (HttpConnection::*action)()) {
    std::vector<std::shared_ptr<HttpConnection>> open;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        for (HttpConnection* connection : connections)
            if (auto held = connection->weak_from_this().lock()) open.push_back(std::move(held));
    }
    for (const auto& connection : open) ((*connection).*action)();
}

void HttpServer::beginStop() {
    net::post(acceptStrand, [this] {
        guardedAccept([this] {
            stopping = true;
            error_code ignored;
            acceptor.close(ignored);
            acceptRetry.cancel();
            forEachConnection(&HttpConnection::stopNow);
            drainTimer.expires_after(httpOptions.drainTimeout);
            drainTimer.async_wait([this](const error_code& error) {
                if (!error) drainDeadline();
            });
            afterClose();  // nothing open: the event loop may end now
        });
    });
}

void HttpServer::stopNow() {
    net::post(acceptStrand, [this] {
        guardedAccept([this] {
            if (!stopping) return;
            drainTimer.cancel();
            drainDeadline();
        });
    });
}

void HttpServer::drainDeadline() {
    if (abandoned.exchange(true)) return;
    if (atDrainDeadline) atDrainDeadline();
    forEachConnection(&HttpConnection::drainDeadline);
}

void HttpServer::waitStopped() {
    if (controlThread.joinable()) controlThread.join();  // every connection is closed
    loops.stop();
    loops.join();
}

void HttpServer::join() {
    // What is still posted only releases its connections now.
    tearingDown = true;
    control.restart();
    control.poll();
    loops.drain();
    std::deque<std::shared_ptr<HttpConnection>> waiting;
    {
        std::lock_guard<std::mutex> lock(slotMutex);
        waiting.swap(waitingForSlot);
    }
}

}  // namespace connectorhost
