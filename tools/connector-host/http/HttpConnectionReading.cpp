// HttpConnection, reading a request: its bytes, its head judged, its body, and processing it.
#include "tools/connector-host/http/AsioSupport.hpp"

#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/write.hpp>
#include <string_view>

#include "tools/connector-host/core/EnvelopeProcessor.hpp"
#include "tools/connector-host/http/ConnectionOwner.hpp"
#include "tools/connector-host/http/EventLoops.hpp"
#include "tools/connector-host/http/HttpConnection.hpp"
#include "tools/connector-host/http/HttpPolicy.hpp"

namespace connectorhost {
namespace {

// Whether buffered input of a chunked body starts with its last chunk, so that what follows is
// the trailer: "0" (any number of zeros), perhaps extensions, after the previous chunk's CRLF.
bool startsWithLastChunk(std::string_view data) {
    if (data.substr(0, 2) == "\r\n") data.remove_prefix(2);
    const std::size_t zeros = std::min(data.find_first_not_of('0'), data.size());
    return zeros > 0 && zeros < data.size() && data.find_first_of(";\r \t", zeros) == zeros;
}

}  // namespace

void HttpConnection::readSome() {
    const std::size_t room = buffer.max_size() - buffer.size();
    if (room == 0) return bufferFull();
    readPending = true;
    socket.async_read_some(
        buffer.prepare(std::min(room, READ_SIZE)),
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
        const std::size_t used = parser->feed(buffer.data(), error);
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
    if (head.origin && isAllowedOrigin(*head.origin, owner.policy())) allowedOrigin = head.origin;

    facts.method = head.method;
    facts.path = pathOf(head.target);
    const Verdict verdict = judgeRequest(head, owner.policy());
    if (verdict.action == Verdict::Action::Refuse) {
        refuse(verdict.kind, verdict.message, verdict.allow);
        return false;
    }
    if (verdict.action == Verdict::Action::Page || verdict.action == Verdict::Action::Health ||
        verdict.action == Verdict::Action::Metrics) {
        respondRead(verdict.action);
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
                                        std::to_string(HttpRequestParser::HEAD_LIMIT) + " bytes");
}

void HttpConnection::parseFailed(const beast::error_code& error) {
    const Refusal refusal = parser->explain(error);
    refuse(refusal.kind, refusal.message);
}

void HttpConnection::dispatch() {
    setPhase(ConnectionPhase::Busy, 0);
    if (phase.load() == ConnectionPhase::Reclaimed) return;  // closing
    state = State::Busy;
    deadline.store(NO_DEADLINE);
    keepAlive = parser->keepAlive();
    body = std::move(parser->body());
    facts.bytesIn = body.size();
    parser.reset();
    if (owner.takeSlot(shared_from_this())) process();
}

// process: on this thread, holding a processing slot, which it passes on before it answers.
void HttpConnection::process() {
    Answer answer;
    EventLoops::Processing processing;  // it may block this thread: its loop may need a helper
    if (!owner.isAbandoned()) {
        try {
            answer = owner.processor().process(body);
        } catch (...) {
            auto [kind, message] = classify(std::current_exception());
            answer = Answer{errorAnswer(kind, message), kind, 0, {}};
        }
    }
    owner.releaseSlot();
    if (owner.isAbandoned()) return refuseStopping();
    std::string().swap(body);
    facts.served = true;
    facts.type = answer.type;
    facts.session = std::move(answer.session);
    facts.error = answer.error;
    respond(answer.httpStatus(), std::move(answer.json), !keepAlive);
}

// refuseStopping: the host stopped before the request in hand was served: 503 "stopping", with
// the "id" and "session" its envelope names.
void HttpConnection::refuseStopping() {
    const ErrorKind kind = ErrorKind::Stopping;
    Answer answer = owner.processor().refusal(
        kind, "connector-host stopped before the request was served", body);
    std::string().swap(body);
    facts.error = kind;
    respond(httpStatus(kind), std::move(answer.json), true);
}

}  // namespace connectorhost
