// Boost.Asio ends each handler with a release fence, which ThreadSanitizer cannot model (see
// HttpConnection.cpp).
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic ignored "-Wtsan"
#endif

#include "tools/connector-host/HttpServer.hpp"

#include <algorithm>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <cerrno>

#include "tools/connector-host/HttpConnection.hpp"
#include "tools/connector-host/HttpResponses.hpp"

namespace connectorhost {
namespace {

namespace net = boost::asio;
using tcp = net::ip::tcp;
using boost::system::error_code;

constexpr std::chrono::milliseconds kAcceptRetry{50};

bool isOutOfDescriptors(const error_code& error) {
    if (error.category() != boost::system::system_category()) return false;
    const int code = error.value();
    return code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM;
}

}  // namespace

HttpServer::HttpServer(EnvelopeProcessor& processor, HttpOptions options)
    : processor(processor)
    , options(std::move(options))
    , policy{0, this->options.allowedOrigins, this->options.token}
    // Each event loop (and the control loop) holds three descriptors; the listening socket and
    // the spare one more each.
    , openFiles(
          prepareOpenFiles(this->options.maxConnections, 3 * (loopCount(this->options) + 1) + 2))
    , loops(loopCount(this->options), std::max<std::size_t>(1, this->options.workers)) {
    if (openFiles.limit < openFiles.needed)
        logLine("the open-files limit of " + std::to_string(openFiles.limit) + " is below the " +
                std::to_string(openFiles.needed) + " that " +
                std::to_string(this->options.maxConnections) +
                " connections need; when descriptors run out, idle connections are reclaimed "
                "and other clients refused with 503");

    const tcp::endpoint endpoint(net::ip::make_address_v4("127.0.0.1"), this->options.port);
    error_code error;
    acceptor.open(endpoint.protocol());
    // Lets a restarted host take its port back from connections in TIME_WAIT; on Linux it never
    // lets a second socket bind while this one listens (unlike SO_REUSEPORT).
    acceptor.set_option(tcp::acceptor::reuse_address(true));
    acceptor.bind(endpoint, error);
    if (error == net::error::address_in_use)
        throw std::runtime_error("127.0.0.1:" + std::to_string(this->options.port) +
                                 " is already in use");
    if (error) throw std::runtime_error("cannot bind 127.0.0.1: " + error.message());
    acceptor.listen(net::socket_base::max_listen_connections);
    acceptor.non_blocking(true);  // for the one accept that is not asynchronous (refuseWithSpare)
    policy.port = acceptor.local_endpoint().port();
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

bool HttpServer::takeSlot(const std::shared_ptr<HttpConnection>& connection) {
    std::lock_guard<std::mutex> lock(slotMutex);
    if (busySlots < std::max<std::size_t>(1, options.workers)) {
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

void HttpServer::acceptSoon() {
    acceptRetry.expires_after(kAcceptRetry);
    acceptRetry.async_wait([this](const error_code& error) {
        if (!error) guardedAccept([this] { accept(); });
    });
}

void HttpServer::accept() {
    if (stopping) return;
    if (atCap()) {
        // Wait for a client to queue up, then make room for it.
        acceptor.async_wait(tcp::acceptor::wait_read, [this](const error_code& error) {
            guardedAccept([&] {
                if (error || stopping) return;
                if (atCap() && !reclaimOne()) return pauseAccept();
                accept();
            });
        });
        return;
    }
    net::io_context& loop = loops.pick();
    acceptor.async_accept(net::make_strand(loop),
                          [this, &loop](const error_code& error, tcp::socket socket) {
                              guardedAccept([&] { onAccepted(error, std::move(socket), loop); });
                          });
}

void HttpServer::onAccepted(const error_code& error, tcp::socket socket, net::io_context& loop) {
    if (error) loops.release(loop);  // picked for a connection that did not come
    if (error == net::error::operation_aborted || stopping) return;
    if (isOutOfDescriptors(error)) return outOfDescriptors();
    if (!error) {  // otherwise the client left before it was accepted
        descriptorsShort = false;
        try {
            std::make_shared<HttpConnection>(*this, std::move(socket), loop)->start();
        } catch (const std::exception& failure) {
            failures.log(std::string("a connection could not be opened: ") + failure.what());
        }
    }
    accept();
}

void HttpServer::outOfDescriptors() {
    if (!descriptorsShort) {
        descriptorsShort = true;
        logLine("out of file descriptors (the open-files limit is " +
                std::to_string(openFiles.limit) +
                "): reclaiming idle connections and refusing new clients with 503 until "
                "descriptors free up");
    }
    if (reclaimOne()) return pauseAccept();  // its descriptor is free once it has closed
    if (refuseWithSpare()) return accept();
    acceptSoon();
}

// The spare descriptor, given up for a moment: the waiting client is accepted on it and told at
// once that there is no room, instead of hanging in the listen queue.
bool HttpServer::refuseWithSpare() {
    if (!spare.release()) return false;
    tcp::socket socket(control);
    error_code error;
    acceptor.accept(socket, error);
    const bool accepted = !error;
    if (accepted) {
        const std::string refusal = rawResponse(
            httpStatus(ErrorKind::Overloaded),
            errorAnswer(ErrorKind::Overloaded,
                        "connector-host has no file descriptor left for another connection"));
        socket.non_blocking(true, error);
        socket.write_some(net::buffer(refusal), error);
        socket.shutdown(tcp::socket::shutdown_send, error);
        char drained[4096];  // what the client sent, so that closing does not reset the answer
        socket.read_some(net::buffer(drained), error);
        socket.close(error);
    }
    spare.restore();
    return accepted;
}

// Nothing to reclaim now: accepting resumes when a connection closes or becomes idle, or once a
// request in progress may have grown slow enough to be reclaimed.
void HttpServer::pauseAccept() {
    acceptPaused = true;
    acceptRetry.expires_after(kSlowRequestAge);
    acceptRetry.async_wait([this](const error_code& error) {
        if (!error) guardedAccept([this] { resumeAccept(); });
    });
}

void HttpServer::resumeAccept() {
    if (!acceptPaused.exchange(false)) return;
    acceptRetry.cancel();
    accept();
}

void HttpServer::becameIdle() noexcept {
    if (!acceptPaused || tearingDown) return;
    try {
        net::post(acceptStrand, [this] { guardedAccept([this] { resumeAccept(); }); });
    } catch (...) {
    }
}

bool HttpServer::atCap() {
    std::lock_guard<std::mutex> lock(registryMutex);
    return connections.size() - reclaiming >= options.maxConnections;
}

bool HttpServer::reclaimOne() {
    std::vector<std::shared_ptr<HttpConnection>> open;  // released after the lock
    std::vector<ConnectionActivity> activity;
    std::unique_lock<std::mutex> lock(registryMutex);
    for (HttpConnection* connection : connections) {
        if (auto held = connection->weak_from_this().lock()) {
            activity.push_back(held->activity());
            open.push_back(std::move(held));
        }
    }
    const auto now = std::chrono::steady_clock::now();
    while (const auto chosen = chooseReclaim(activity, now)) {
        const ConnectionPhase seen = activity[*chosen].phase;
        if (open[*chosen]->claimForReclaim(seen)) {
            ++reclaiming;
            lock.unlock();
            open[*chosen]->reclaim(seen);
            return true;
        }
        activity[*chosen].phase = ConnectionPhase::Busy;  // it moved on: not a candidate now
    }
    return false;
}

void HttpServer::reclaimWithdrawn() noexcept {
    std::lock_guard<std::mutex> lock(registryMutex);
    if (reclaiming > 0) --reclaiming;
}

void HttpServer::opened(HttpConnection* connection) {
    std::lock_guard<std::mutex> lock(registryMutex);
    connections.insert(connection);
}

void HttpServer::closed(HttpConnection* connection, bool reclaimed) noexcept {
    loops.release(connection->eventLoop());
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        connections.erase(connection);
        if (reclaimed && reclaiming > 0) --reclaiming;
    }
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
    const auto shortest = std::min(options.requestTimeout, options.idleTimeout) / 4;
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
            drainTimer.expires_after(options.drainTimeout);
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
