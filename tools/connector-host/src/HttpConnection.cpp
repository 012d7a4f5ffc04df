// Boost.Asio ends each handler with a release fence. ThreadSanitizer cannot model fences, and GCC
// says so at compile time; handlers pass between threads under Asio's scheduler mutex, which it
// does model, so the fence hides nothing from it.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic ignored "-Wtsan"
#endif

#include "tools/connector-host/HttpConnection.hpp"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/write.hpp>
#include <string_view>

#include "tools/connector-host/EventLoops.hpp"
#include "tools/connector-host/HttpPolicy.hpp"
#include "tools/connector-host/HttpServer.hpp"
#include "tools/connector-host/Playground.hpp"

namespace connectorhost {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

// How long a refused request's unread input is read and dropped before the connection closes, so
// that the client sees the answer rather than a reset.
constexpr std::chrono::seconds kLinger{2};
constexpr std::size_t kReadSize = 16 * 1024;

// Whether buffered input of a chunked body starts with its last chunk, so that what follows is
// the trailer: "0" (any number of zeros), perhaps extensions, after the previous chunk's CRLF.
bool startsWithLastChunk(std::string_view data) {
    if (data.substr(0, 2) == "\r\n") data.remove_prefix(2);
    const std::size_t zeros = std::min(data.find_first_not_of('0'), data.size());
    return zeros > 0 && zeros < data.size() && data.find_first_of(";\r \t", zeros) == zeros;
}

}  // namespace

template <class F>
void HttpConnection::guarded(F&& step) noexcept {
    try {
        step();
    } catch (const std::exception& error) {
        failed(error.what());
    } catch (...) {
        failed("an exception of unknown type");
    }
}

HttpConnection::HttpConnection(HttpServer& server, tcp::socket accepted, net::io_context& loop)
    : server(server)
    , loop(loop)
    , socket(std::move(accepted))
    , since(Clock::now().time_since_epoch().count()) {
    beast::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    socket.non_blocking(true, ignored);  // writes are tried at once (see write)
    server.opened(this);
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
            if (self->state == State::Busy)
                return self->refuse(ErrorKind::Stopping,
                                    "connector-host stopped before the request was served");
            if (self->state != State::Writing) self->close();
        });
    });
}

void HttpConnection::processQueued() {
    net::post(socket.get_executor(), [self = shared_from_this()] {
        self->guarded([&] {
            if (self->state == State::Busy) return self->process();
            self->server.releaseSlot();  // answered or closed while it waited
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
                const std::string refusal = rawResponse(
                    httpStatus(ErrorKind::Overloaded),
                    errorAnswer(ErrorKind::Overloaded,
                                "The request arrived too slowly while every connection was in "
                                "use; its connection was given to another client"));
                beast::error_code ignored;
                self->socket.write_some(net::buffer(refusal), ignored);
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
    server.reclaimWithdrawn();
    if (buffer.size() == 0) return readSome();
    if (beginRequest(buffer.size())) parseBuffered();
}

void HttpConnection::setPhase(ConnectionPhase next, std::uint64_t size) {
    since.store(Clock::now().time_since_epoch().count());
    bytes.store(size);
    ConnectionPhase current = phase.load();
    while (current != ConnectionPhase::Reclaimed && !phase.compare_exchange_weak(current, next)) {
    }
}

void HttpConnection::awaitRequest() {
    state = State::Reading;
    if (server.stopping) return close();
    parser.emplace(server.processor.limits.maxBytes);
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
    setPhase(ConnectionPhase::Idle, 0);
    server.becameIdle();
    setDeadline(server.options.idleTimeout);
    readSome();
}

bool HttpConnection::beginRequest(std::size_t size) {
    setPhase(ConnectionPhase::Reading, size);
    if (phase.load() == ConnectionPhase::Reclaimed) return false;  // closing
    setDeadline(server.options.requestTimeout);
    return true;
}

void HttpConnection::readSome() {
    const std::size_t room = buffer.max_size() - buffer.size();
    if (room == 0) return bufferFull();
    readPending = true;
    socket.async_read_some(
        buffer.prepare(std::min(room, kReadSize)),
        [self = shared_from_this()](const beast::error_code& error, std::size_t size) {
            self->guarded([&] { self->onRead(error, size); });
        });
}

// The client went away, or its time ran out (expire() closed the socket): nothing to answer.
void HttpConnection::onRead(const beast::error_code& error, std::size_t size) {
    readPending = false;
    buffer.commit(size);
    const ConnectionPhase now = phase.load();
    if (now == ConnectionPhase::Reclaimed) return keepPlaceIfAsked();
    if (error) return close();
    if (now == ConnectionPhase::Idle) {
        if (!beginRequest(size)) return;
    } else {
        bytes.fetch_add(size);
    }
    parseBuffered();
}

void HttpConnection::parseBuffered() {
    for (;;) {
        if (!judged && parser->is_header_done()) {
            judged = true;
            if (!judgeHead()) return;
        }
        if (parser->is_done()) return dispatch();
        if (buffer.size() == 0) return readSome();
        beast::error_code error;
        const std::size_t used = parser->put(buffer.data(), error);
        buffer.consume(used);
        if (error == http::error::need_more) return readSome();
        if (error) return parseFailed(error);
    }
}

// judgeHead: whether the request may go on to its body; otherwise it has been answered.
bool HttpConnection::judgeHead() {
    const RequestHead head{parser->methodText(),
                           parser->target(),
                           parser->field(http::field::host),
                           parser->field(http::field::origin),
                           parser->field(http::field::content_type),
                           parser->field(http::field::authorization)};
    allowedOrigin.reset();
    if (head.origin && isAllowedOrigin(*head.origin, server.policy)) allowedOrigin = head.origin;

    const Verdict verdict = judgeRequest(head, server.policy);
    if (verdict.action == Verdict::Action::Refuse) {
        respond(httpStatus(verdict.kind), errorAnswer(verdict.kind, verdict.message), true,
                verdict.allow);
        return false;
    }
    if (verdict.action == Verdict::Action::Page) {
        respondPage();
        return false;
    }
    if (verdict.action == Verdict::Action::Preflight) {
        respond(204, {}, true);
        return false;
    }
    if (auto tooLarge = parser->refuseOversizedBody()) {
        refuse(tooLarge->kind, tooLarge->message);
        return false;
    }
    if (parser->is_done() || !beast::iequals(parser->fields()[http::field::expect], "100-continue"))
        return true;
    continueAfterInterim();
    return false;
}

// The client waits for "100 Continue" before it sends the body.
void HttpConnection::continueAfterInterim() {
    auto interim = std::make_shared<http::response<http::empty_body>>(http::status::continue_, 11);
    http::async_write(socket, *interim,
                      [self = shared_from_this(), interim](beast::error_code error, std::size_t) {
                          self->guarded([&] {
                              if (error) return self->close();
                              self->parseBuffered();
                          });
                      });
}

// The parser needs more than the buffer may hold: a chunk line (with its extensions) or a
// trailer that is too long; a head over its limit is refused by the parser itself first.
void HttpConnection::bufferFull() {
    const auto* data = static_cast<const char*>(buffer.data().data());
    if (parser->is_header_done() && !startsWithLastChunk(std::string_view(data, buffer.size())))
        return refuse(ErrorKind::BadRequest,
                      "A chunk line exceeds " + std::to_string(buffer.max_size()) + " bytes");
    refuse(ErrorKind::HeadTooLarge, "The request head and trailer exceed " +
                                        std::to_string(HttpRequestParser::kHeadLimit) + " bytes");
}

void HttpConnection::parseFailed(const beast::error_code& error) {
    const Refusal refusal = parser->explain(error);
    refuse(refusal.kind, refusal.message);
}

void HttpConnection::dispatch() {
    setPhase(ConnectionPhase::Busy, 0);
    if (phase.load() == ConnectionPhase::Reclaimed) return;  // closing
    state = State::Busy;
    deadline.store(kNoDeadline);
    keepAlive = parser->keep_alive();
    body = std::move(parser->body());
    parser.reset();
    if (server.takeSlot(shared_from_this())) process();
}

// process: on this thread, holding a processing slot, which it passes on before it answers.
void HttpConnection::process() {
    Answer answer;
    EventLoops::Processing processing;  // it may block this thread: its loop may need a helper
    if (!server.abandoned) {
        try {
            answer = server.processor.process(body);
        } catch (...) {
            auto [kind, message] = classify(std::current_exception());
            answer = Answer{errorAnswer(kind, message), kind};
        }
    }
    std::string().swap(body);
    server.releaseSlot();
    if (server.abandoned)
        return refuse(ErrorKind::Stopping, "connector-host stopped before the request was served");
    respond(answer.httpStatus(), std::move(answer.json), !keepAlive);
}

void HttpConnection::refuse(ErrorKind kind, const std::string& message) {
    respond(httpStatus(kind), errorAnswer(kind, message), true);
}

// respond: writes one answer; `close` ends the connection after it.
void HttpConnection::respond(unsigned status, std::string json, bool close, const char* allow) {
    const bool keep = !close && !server.stopping;
    write(std::make_shared<HttpResponse>(
              makeResponse(status, std::move(json), ResponseHeaders{keep, allowedOrigin, allow})),
          keep);
}

// The playground page; a GET that came with a body is answered and closed.
void HttpConnection::respondPage() {
    const bool keep = parser->is_done() && parser->keep_alive() && !server.stopping;
    write(std::make_shared<HttpResponse>(
              pageResponse(parser->method() == boost::beast::http::verb::head, keep)),
          keep);
}

// write: sends a response, at once where the socket takes it whole (the usual case: no thread
// is woken for it), otherwise asynchronously. A request refused with its input still unread is
// read and dropped for a moment after it, rather than taken as a request.
void HttpConnection::write(std::shared_ptr<HttpResponse> response, bool keep) {
    const bool inputUnread = parser && !parser->is_done();
    setPhase(ConnectionPhase::Busy, 0);
    if (phase.load() == ConnectionPhase::Reclaimed) return;  // closing
    state = State::Writing;
    auto serializer = std::make_shared<http::response_serializer<http::string_body>>(*response);
    beast::error_code error;
    http::write(socket, *serializer, error);  // the socket does not block
    if (!error) return afterWrite(keep, inputUnread);
    if (error != net::error::would_block) return close();
    setDeadline(server.options.requestTimeout);
    auto& pending = *serializer;
    http::async_write(socket, pending,
                      [self = shared_from_this(), response = std::move(response),
                       serializer = std::move(serializer), keep,
                       inputUnread](const beast::error_code& failure, std::size_t) {
                          self->guarded([&] {
                              if (failure) return self->close();
                              self->afterWrite(keep, inputUnread);
                          });
                      });
}

void HttpConnection::afterWrite(bool keep, bool inputUnread) {
    if (keep) return awaitRequest();
    if (inputUnread) return linger();
    beast::error_code ignored;
    socket.shutdown(tcp::socket::shutdown_send, ignored);
    close();
}

void HttpConnection::linger() {
    state = State::Lingering;
    setPhase(ConnectionPhase::Idle, 0);
    server.becameIdle();
    parser.reset();
    beast::error_code ignored;
    socket.shutdown(tcp::socket::shutdown_send, ignored);
    setDeadline(kLinger);
    dropInput();
}

void HttpConnection::dropInput() {
    buffer.consume(buffer.size());
    socket.async_read_some(
        buffer.prepare(kReadSize),
        [self = shared_from_this()](const beast::error_code& error, std::size_t) {
            self->guarded([&] {
                if (error) return self->close();
                self->dropInput();
            });
        });
}

void HttpConnection::close() noexcept {
    if (state == State::Closed) return;
    state = State::Closed;
    beast::error_code ignored;
    socket.close(ignored);
    server.closed(this, phase.load() == ConnectionPhase::Reclaimed);
}

// An exception while serving: the connection ends, answered if its request is still being read.
void HttpConnection::failed(const char* what) noexcept {
    server.failures.log(std::string("a connection failed: ") + what);
    try {
        if (state == State::Reading && parser)
            return refuse(ErrorKind::BadRequest,
                          std::string("The request could not be read: ") + what);
    } catch (...) {
    }
    close();
}

}  // namespace connectorhost
