// HttpConnection, answering: a response written, then the next request, a linger or the close.
#include "tools/connector-host/http/AsioSupport.hpp"

#include <boost/beast/http/write.hpp>

#include "tools/connector-host/core/RequestLog.hpp"
#include "tools/connector-host/http/ConnectionOwner.hpp"
#include "tools/connector-host/http/HttpConnection.hpp"
#include "tools/connector-host/http/HttpOptions.hpp"
#include "tools/connector-host/http/Playground.hpp"

namespace connectorhost {
namespace {

// How long a refused request's unread input is read and dropped before the connection closes, so
// that the client sees the answer rather than a reset.
constexpr std::chrono::seconds LINGER{2};

}  // namespace

void HttpConnection::refuse(ErrorKind kind, const std::string& message, const char* allow) {
    facts.error = kind;
    owner.refused(kind, peer);
    respond(httpStatus(kind), errorAnswer(kind, message), true, allow);
}

// respond: writes one answer; `close` ends the connection after it.
void HttpConnection::respond(unsigned status, std::string json, bool close, const char* allow) {
    const bool keep = !close && !owner.isStopping();
    write(std::make_shared<HttpResponse>(
              makeResponse(status, std::move(json), ResponseHeaders{keep, allowedOrigin, allow})),
          keep);
}

// The page, health or metrics; a GET that came with a body is answered and closed.
void HttpConnection::respondRead(Verdict::Action action) {
    const bool keep = parser->is_done() && parser->keepAlive() && !owner.isStopping();
    const bool head = parser->method() == http::verb::head;
    if (action == Verdict::Action::Page)
        return write(std::make_shared<HttpResponse>(pageResponse(head, keep)), keep);
    if (action == Verdict::Action::Health)
        return write(
            std::make_shared<HttpResponse>(healthResponse(!owner.isStopping(), head, keep)), keep);
    write(std::make_shared<HttpResponse>(metricsResponse(owner.metricsText(), head, keep)), keep);
}

// report: the request in hand, answered with `status`, to the request log. The session's name
// is let go of then: a client may name a session as long as a body, and a connection kept alive
// should not hold it until its next request.
void HttpConnection::report(unsigned status, std::size_t bytesOut) noexcept {
    AccessRecord record;
    record.time = facts.arrived;
    record.peer = peer;
    record.method = facts.method;
    record.path = facts.path;
    record.session = facts.session;
    record.status = status;
    record.error = facts.error;
    record.bytesIn = facts.bytesIn;
    record.bytesOut = bytesOut;
    record.duration = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - facts.began);
    if (facts.served)
        owner.requestLog().served(record, facts.type);
    else
        owner.requestLog().answered(record);
    std::string().swap(facts.session);
}

// write: sends a response, at once where the socket takes it whole (the usual case: no thread
// is woken for it), otherwise asynchronously (writeRest). A request refused with its input still
// unread is read and dropped for a moment after it, rather than taken as a request.
void HttpConnection::write(std::shared_ptr<HttpResponse> response, bool keep) {
    const bool inputUnread = parser && !parser->is_done();
    setPhase(ConnectionPhase::Busy, 0);
    // A reclaimed connection is closing, and its reclaim reports what it sends instead.
    if (phase.load() == ConnectionPhase::Reclaimed) return;
    report(response->result_int(), response->body().size());
    state = State::Writing;
    auto serializer = std::make_shared<ResponseSerializer>(*response);
    beast::error_code error;
    idleFrom = std::chrono::steady_clock::now();  // before the client can have the answer
    http::write(socket, *serializer, error);      // the socket does not block
    if (!error) return afterWrite(keep, inputUnread);
    if (error != net::error::would_block) return close();
    writeRest(std::move(response), std::move(serializer), keep, inputUnread);
}

// writeRest: the rest of an answer, as fast as its client takes it. Each step its client takes
// counts as progress: an answer that gets none for the request time-out ends the connection, and
// at the connection cap one that got none for STALL_AGE may be reclaimed (its client sends but
// does not read), while a client that reads, however slowly, gets the whole answer.
void HttpConnection::writeRest(std::shared_ptr<HttpResponse> response,
                               std::shared_ptr<ResponseSerializer> serializer, bool keep,
                               bool inputUnread) {
    setPhase(ConnectionPhase::Writing, 0);
    setDeadline(owner.options().requestTimeout);
    auto& pending = *serializer;
    http::async_write_some(socket, pending,
                           [self = shared_from_this(), response = std::move(response),
                            serializer = std::move(serializer), keep,
                            inputUnread](const beast::error_code& failure, std::size_t) mutable {
                               self->guarded([&] {
                                   if (failure) return self->close();
                                   if (!serializer->is_done())
                                       return self->writeRest(std::move(response),
                                                              std::move(serializer), keep,
                                                              inputUnread);
                                   self->idleFrom = std::chrono::steady_clock::now();
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
    owner.becameIdle();
    parser.reset();
    beast::error_code ignored;
    socket.shutdown(tcp::socket::shutdown_send, ignored);
    setDeadline(LINGER);
    dropInput();
}

void HttpConnection::dropInput() {
    buffer.consume(buffer.size());
    socket.async_read_some(
        buffer.prepare(READ_SIZE),
        [self = shared_from_this()](const beast::error_code& error, std::size_t) {
            self->guarded([&] {
                if (error) return self->close();
                self->dropInput();
            });
        });
}

}  // namespace connectorhost
