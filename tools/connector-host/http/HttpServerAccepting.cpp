// HttpServer, accepting: the listening socket, the connection cap and its reclaim, and clients
// beyond the open-files limit.
#include "tools/connector-host/http/AsioSupport.hpp"

#include <cerrno>

#include "tools/connector-host/core/RequestLog.hpp"
#include "tools/connector-host/http/HttpConnection.hpp"
#include "tools/connector-host/http/HttpResponses.hpp"
#include "tools/connector-host/http/HttpServer.hpp"

namespace connectorhost {
namespace {

using boost::system::error_code;

constexpr std::chrono::milliseconds ACCEPT_RETRY{50};

bool isOutOfDescriptors(const error_code& error) {
    if (error.category() != boost::system::system_category()) return false;
    const int code = error.value();
    return code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM;
}

}  // namespace

void HttpServer::acceptSoon() {
    acceptRetry.expires_after(ACCEPT_RETRY);
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
    if (error == net::error::operation_aborted || stopping) return;
    if (isOutOfDescriptors(error)) return outOfDescriptors();
    if (!error) {  // otherwise the client left before it was accepted
        descriptorsShort = false;
        try {
            std::make_shared<HttpConnection>(static_cast<ConnectionOwner&>(*this),
                                             std::move(socket), loop)
                ->start();
        } catch (const std::exception& failure) {
            failures.log(std::string("a connection could not be opened: ") + failure.what());
        }
    }
    accept();
}

void HttpServer::outOfDescriptors() {
    if (!descriptorsShort) {
        descriptorsShort = true;
        shortages.log("out of file descriptors (the open-files limit is " +
                      std::to_string(openFiles.limit) +
                      "): reclaiming idle connections and refusing new clients with 503 until "
                      "descriptors free up");
    }
    // A reclaimed connection's descriptor is free once it has closed: wait for that rather than
    // turn the client away.
    if (reclaimOne() || reclaimsPending()) return pauseAccept();
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
        const std::string refusal =
            rawResponse(ErrorKind::Overloaded,
                        "connector-host has no file descriptor left for another connection");
        socket.non_blocking(true, error);
        socket.write_some(net::buffer(refusal), error);
        AccessRecord record;
        record.time = std::chrono::system_clock::now();
        record.peer = peerText(socket);
        record.status = httpStatus(ErrorKind::Overloaded);
        record.error = ErrorKind::Overloaded;
        record.bytesOut = refusal.size();
        requests.answered(record);
        refused(ErrorKind::Overloaded, "a client beyond the open-files limit");
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
    acceptRetry.expires_after(STALL_AGE);
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

bool HttpServer::reclaimsPending() {
    std::lock_guard<std::mutex> lock(registryMutex);
    return reclaiming > 0;
}

bool HttpServer::atCap() {
    std::lock_guard<std::mutex> lock(registryMutex);
    return connections.size() - reclaiming >= httpOptions.maxConnections;
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
            reclaimLog.log(std::string("at the cap of ") +
                           std::to_string(httpOptions.maxConnections) + " connections, reclaimed " +
                           (seen == ConnectionPhase::Idle ? "an idle connection"
                            : seen == ConnectionPhase::Writing
                                ? "a connection not reading its answer"
                                : "a slow request's connection") +
                           " for a waiting client");
            return true;
        }
        activity[*chosen].phase = ConnectionPhase::Busy;  // it moved on: not a candidate now
    }
    return false;
}

// A client waiting for that reclaim is looked at again at once: another connection may be
// reclaimed for it, or, out of descriptors, it is refused.
void HttpServer::reclaimWithdrawn() noexcept {
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        if (reclaiming > 0) --reclaiming;
    }
    becameIdle();
}

}  // namespace connectorhost
