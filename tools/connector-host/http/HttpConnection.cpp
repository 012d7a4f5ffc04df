// HttpConnection: its life, deadlines and reclaim; reading a request is in
// HttpConnectionReading.cpp, answering it in HttpConnectionAnswering.cpp.
#include "tools/connector-host/http/AsioSupport.hpp"

#include "tools/connector-host/http/HttpConnection.hpp"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>

#include "tools/connector-host/core/EnvelopeProcessor.hpp"
#include "tools/connector-host/core/RequestLog.hpp"
#include "tools/connector-host/http/ConnectionOwner.hpp"
#include "tools/connector-host/http/HttpOptions.hpp"

namespace connectorhost {
namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

HttpConnection::HttpConnection(ConnectionOwner& owner, tcp::socket accepted, net::io_context& loop)
    : owner(owner)
    , loop(loop)
    , socket(std::move(accepted))
    , idleFrom(Clock::now())
    , since(idleFrom.time_since_epoch().count()) {
    beast::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    socket.non_blocking(true, ignored);  // writes are tried at once (see write)
    peer = peerText(socket);
    owner.opened(*this);
}

HttpConnection::~HttpConnection() {
    close();
}

void HttpConnection::start() {
    net::dispatch(socket.get_executor(),
                  [self = shared_from_this()] { self->guarded([&] { self->awaitRequest(); }); });
}

void HttpConnection::stopNow() {
    net::post(socket.get_executor(), [self = shared_from_this()] {
        self->guarded([&] {
            if (self->state == State::Reading || self->state == State::Lingering) self->close();
        });
    });
}

// A request being processed answers for itself when it returns (see process); an answer being
// written ends with the connection.
void HttpConnection::drainDeadline() {
    net::post(socket.get_executor(), [self = shared_from_this()] {
        self->guarded([&] {
            if (self->state == State::Busy) return self->refuseStopping();
            if (self->state != State::Writing) self->close();
        });
    });
}

void HttpConnection::processQueued() {
    net::post(socket.get_executor(), [self = shared_from_this()] {
        self->guarded([&] {
            if (self->state == State::Busy) return self->process();
            self->owner.releaseSlot();  // answered or closed while it waited
        });
    });
}

void HttpConnection::setDeadline(std::chrono::steady_clock::duration after) noexcept {
    deadline.store((Clock::now() + after).time_since_epoch().count());
}

bool HttpConnection::isOverdue(std::chrono::steady_clock::time_point now) const noexcept {
    return deadline.load() <= now.time_since_epoch().count();
}

// Past its deadline: the socket closes, and the operation waiting on it ends with an error.
void HttpConnection::expire() {
    net::post(socket.get_executor(), [self = shared_from_this()] {
        self->guarded([&] {
            if (self->isOverdue(Clock::now())) self->close();
        });
    });
}

ConnectionActivity HttpConnection::activity() const noexcept {
    return {phase.load(), Clock::time_point(Clock::duration(since.load())), bytes.load()};
}

bool HttpConnection::claimForReclaim(ConnectionPhase seen) noexcept {
    return phase.compare_exchange_strong(seen, ConnectionPhase::Reclaimed);
}

void HttpConnection::reclaim(ConnectionPhase seen) {
    net::post(socket.get_executor(), [self = shared_from_this(), seen] {
        self->guarded([&] {
            if (self->state == State::Closed) return;
            if (self->phase != ConnectionPhase::Reclaimed) return;  // it kept its place
            if (seen == ConnectionPhase::Idle && self->readPending) {
                // A request may be on its way already: the read, cancelled, says (onRead).
                beast::error_code ignored;
                return static_cast<void>(self->socket.cancel(ignored));
            }
            if (seen == ConnectionPhase::Reading && self->state == State::Reading) {
                // Told why, in one non-blocking write; the connection's slot is needed now.
                const std::string refusal =
                    rawResponse(ErrorKind::Overloaded,
                                "The request arrived too slowly while every connection was in "
                                "use; its connection was given to another client");
                beast::error_code ignored;
                self->socket.write_some(net::buffer(refusal), ignored);
                self->facts.error = ErrorKind::Overloaded;
                self->owner.refused(ErrorKind::Overloaded, self->peer);
                self->report(httpStatus(ErrorKind::Overloaded), refusal.size());
            }
            self->close();
        });
    });
}

// A connection reclaimed while it looked idle, whose request had in fact come (read already, or
// waiting in the socket), keeps its place and takes it. (The client the reclaim made room for
// keeps its place too: the cap is passed by one until a connection closes.)
void HttpConnection::keepPlaceIfAsked() {
    beast::error_code ignored;
    if (buffer.size() == 0 && socket.available(ignored) == 0) return close();
    ConnectionPhase reclaimed = ConnectionPhase::Reclaimed;
    phase.compare_exchange_strong(reclaimed, ConnectionPhase::Idle);
    // This reclaim is over either way; one made again meanwhile closes the connection itself.
    const bool kept = beginRequest(buffer.size());  // a request is arriving: not idle any more
    owner.reclaimWithdrawn();
    if (!kept) return;
    if (buffer.size() == 0) return readSome();
    parseBuffered();
}

void HttpConnection::setPhase(ConnectionPhase next, std::uint64_t size, Clock::time_point from) {
    since.store(from.time_since_epoch().count());
    bytes.store(size);
    ConnectionPhase current = phase.load();
    while (current != ConnectionPhase::Reclaimed && !phase.compare_exchange_weak(current, next)) {
    }
}

void HttpConnection::awaitRequest() {
    state = State::Reading;
    if (owner.isStopping()) return close();
    parser.emplace(owner.processor().limits.maxBytes);
    judged = false;
    if (buffer.size() > 0) {  // a pipelined request is already here: taken in its own turn
        if (!beginRequest(buffer.size())) return;
        net::post(socket.get_executor(), [self = shared_from_this()] {
            self->guarded([&] {
                if (self->state == State::Reading) self->parseBuffered();
            });
        });
        return;
    }
    // Idle since it was accepted or its answer was handed over: what its client has seen, so
    // that connections answered one after another are reclaimed in that order.
    setPhase(ConnectionPhase::Idle, 0, idleFrom);
    owner.becameIdle();
    setDeadline(owner.options().idleTimeout);
    readSome();
}

bool HttpConnection::beginRequest(std::size_t size) {
    facts = Facts{};
    facts.began = std::chrono::steady_clock::now();
    facts.arrived = std::chrono::system_clock::now();
    setPhase(ConnectionPhase::Reading, size, facts.began);
    if (phase.load() == ConnectionPhase::Reclaimed) return false;  // closing
    setDeadline(owner.options().requestTimeout);
    return true;
}

void HttpConnection::close() noexcept {
    if (state == State::Closed) return;
    state = State::Closed;
    beast::error_code ignored;
    socket.close(ignored);
    owner.closed(*this, phase.load() == ConnectionPhase::Reclaimed);
}

// An exception while serving: the connection ends, answered if its request is still being read.
void HttpConnection::failed(const char* what) noexcept {
    owner.logFailure(std::string("a connection failed: ") + what);
    try {
        if (state == State::Reading && parser)
            return refuse(ErrorKind::BadRequest,
                          std::string("The request could not be read: ") + what);
    } catch (...) {
    }
    close();
}

}  // namespace connectorhost
