// Boost.Asio ends each handler with a release fence. ThreadSanitizer cannot model fences, and GCC
// says so at compile time; handlers pass between threads under Asio's scheduler mutex, which it
// does model, so the fence hides nothing from it.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic ignored "-Wtsan"
#endif

#include "tools/connector-host/HttpFrontEnd.hpp"
#include "tools/connector-host/Playground.hpp"

#include <Poco/JSON/Object.h>

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unordered_set>
#include <vector>

namespace connectorhost {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

constexpr std::size_t kHeaderLimit = 8 * 1024;
// How long a refused request's unread body is read and dropped before the connection closes, so
// that the client sees the answer rather than a reset.
constexpr std::chrono::seconds kLinger{2};
constexpr std::chrono::milliseconds kAcceptRetry{50};

std::string errorJson(const std::string& kind, const std::string& message) {
    Poco::JSON::Object::Ptr error = new Poco::JSON::Object(Poco::JSON_PRESERVE_KEY_ORDER);
    error->set("kind", kind);
    error->set("message", message);
    Poco::JSON::Object answer;
    answer.set("error", error);
    std::ostringstream text;
    answer.stringify(text);
    return text.str();
}

http::status statusOf(Outcome outcome) {
    switch (outcome) {
        case Outcome::Answered:
            return http::status::ok;
        case Outcome::InputError:
            return http::status::bad_request;
        case Outcome::TooLarge:
            return http::status::payload_too_large;
        case Outcome::ServiceError:
            break;
    }
    return http::status::internal_server_error;
}

std::optional<std::string> field(const http::request<http::string_body>& request,
                                 http::field name) {
    auto found = request.find(name);
    if (found == request.end()) return std::nullopt;
    return std::string(found->value());
}

}  // namespace

class Connection;

class HttpFrontEnd::Server {
  public:
    Server(EnvelopeProcessor& processor, HttpOptions options)
        : processor(processor)
        , options(std::move(options))
        , policy{0, this->options.allowedOrigins, this->options.token}
        , pool(std::max<std::size_t>(1, this->options.workers)) {
        const tcp::endpoint endpoint(net::ip::make_address_v4("127.0.0.1"), this->options.port);
        beast::error_code ec;
        acceptor.open(endpoint.protocol());
        // Lets a restarted host take its port back from connections in TIME_WAIT; on Linux it
        // never lets a second socket bind while this one listens (unlike SO_REUSEPORT).
        acceptor.set_option(tcp::acceptor::reuse_address(true));
        acceptor.bind(endpoint, ec);
        if (ec == net::error::address_in_use)
            throw std::runtime_error("127.0.0.1:" + std::to_string(this->options.port) +
                                     " is already in use");
        if (ec) throw std::runtime_error("cannot bind 127.0.0.1: " + ec.message());
        acceptor.listen(net::socket_base::max_listen_connections);
        policy.port = acceptor.local_endpoint().port();
    }

    void start() {
        accept();
        ioThread = std::thread([this] { ioc.run(); });
    }

    void stop() {
        if (!ioThread.joinable()) return;
        net::post(ioc, [this] { beginStop(); });
        ioThread.join();
    }

    void join() {
        pool.join();
        // Answers that workers finished after the I/O thread ended only release their
        // connections now.
        tearingDown = true;
        ioc.restart();
        ioc.poll();
    }

    void accept();
    void beginStop();
    void drainDeadline();
    void opened(Connection* connection) { connections.insert(connection); }
    void closed(Connection* connection);

    EnvelopeProcessor& processor;
    const HttpOptions options;
    HttpPolicy policy;
    // Set at the drain deadline: requests still waiting for a worker are not served.
    std::atomic<bool> abandoned{false};
    bool stopping = false;
    bool tearingDown = false;
    bool acceptPaused = false;
    // Open connections, touched on the I/O thread only. Declared before the io_context, so that
    // it outlives the connections that the io_context's destruction may release.
    std::unordered_set<Connection*> connections;

    net::io_context ioc{1};
    tcp::acceptor acceptor{ioc};
    net::steady_timer drainTimer{ioc};
    net::steady_timer acceptRetry{ioc};
    std::optional<net::executor_work_guard<net::io_context::executor_type>> keepRunning{
        net::make_work_guard(ioc)};
    net::thread_pool pool;
    std::thread ioThread;
};

// One client connection: wait for a request, read its head, judge it, read its body, process it
// on a worker, write the answer, and again. Lives on the I/O thread; a worker holds it only while
// it processes its request and hands it back with the answer.
class Connection : public std::enable_shared_from_this<Connection> {
  public:
    using Server = HttpFrontEnd::Server;

    Connection(Server& server, tcp::socket socket) : server_(server), stream_(std::move(socket)) {
        beast::error_code ignored;
        stream_.socket().set_option(tcp::no_delay(true), ignored);
        server_.opened(this);
    }
    ~Connection() { close(); }

    void start() { awaitRequest(); }

    // stopNow: the host is stopping. A connection that has not handed a request to a worker
    // closes; one that has answers when its worker is done (or at the drain deadline).
    void stopNow() {
        if (state_ == State::Reading) close();
    }
    void drainDeadline() {
        if (state_ == State::Busy)
            respond(http::status::service_unavailable,
                    errorJson("stopping", "connector-host stopped before the request was served"),
                    true);
        else
            close();
    }

    void answered(Answer answer) {
        if (state_ != State::Busy) return;  // cut off at the drain deadline, or closed
        respond(statusOf(answer.outcome), std::move(answer.json), !keepAlive_);
    }

    // close: ends the connection at once; later completions of its operations find it closed.
    void close() {
        if (state_ == State::Closed) return;
        state_ = State::Closed;
        beast::error_code ignored;
        stream_.socket().close(ignored);
        server_.closed(this);
    }

  private:
    enum class State { Reading, Busy, Writing, Lingering, Closed };

    void awaitRequest() {
        state_ = State::Reading;
        if (server_.stopping) return close();
        if (buffer_.size() > 0) return readHead();  // a pipelined request is already here
        stream_.expires_after(server_.options.idleTimeout);
        stream_.async_read_some(buffer_.prepare(4096), [self = shared_from_this()](
                                                           beast::error_code ec, std::size_t size) {
            if (ec) return self->close();
            self->buffer_.commit(size);
            self->readHead();
        });
    }

    void readHead() {
        parser_.emplace();
        parser_->header_limit(kHeaderLimit);
        parser_->body_limit(server_.processor.limits().maxBytes);
        stream_.expires_after(server_.options.requestTimeout);
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                    if (ec) return self->readFailed(ec);
                                    self->judge();
                                });
    }

    void judge() {
        const auto& request = parser_->get();
        RequestHead head{
            std::string(request.method_string()),      std::string(request.target()),
            field(request, http::field::host),         field(request, http::field::origin),
            field(request, http::field::content_type), field(request, http::field::authorization)};
        allowedOrigin_.reset();
        if (head.origin && isAllowedOrigin(*head.origin, server_.policy))
            allowedOrigin_ = head.origin;

        const Verdict verdict = judgeRequest(head, server_.policy);
        if (verdict.action == Verdict::Action::Refuse) {
            auto status = static_cast<http::status>(verdict.status);
            return respond(status, errorJson(verdict.kind, verdict.message), true,
                           status == http::status::method_not_allowed);
        }
        if (verdict.action == Verdict::Action::Preflight)
            return respond(http::status::no_content, {}, true);
        if (verdict.action == Verdict::Action::Page) return respondPage(verdict);
        if (beast::iequals(request[http::field::expect], "100-continue")) {
            auto interim =
                std::make_shared<http::response<http::empty_body>>(http::status::continue_, 11);
            return http::async_write(
                stream_, *interim,
                [self = shared_from_this(), interim](beast::error_code ec, std::size_t) {
                    if (ec) return self->close();
                    self->readBody();
                });
        }
        readBody();
    }

    void readBody() {
        if (parser_->is_done()) return dispatch();
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code ec, std::size_t) {
                             if (ec) return self->readFailed(ec);
                             self->dispatch();
                         });
    }

    // A request that could not be read whole: answered where HTTP allows, then closed.
    void readFailed(beast::error_code ec) {
        if (ec == http::error::body_limit) {
            const auto declared = parser_->content_length();
            const std::string json =
                declared
                    ? server_.processor.tooLarge(static_cast<std::size_t>(*declared)).json
                    : errorJson("too_large",
                                "The body exceeds the limit of " +
                                    std::to_string(server_.processor.limits().maxBytes) + " bytes");
            return respond(http::status::payload_too_large, json, true);
        }
        if (ec == http::error::header_limit)
            return respond(http::status::request_header_fields_too_large,
                           errorJson("too_large", "The request head exceeds " +
                                                      std::to_string(kHeaderLimit) + " bytes"),
                           true);
        if (ec.category() == http::make_error_code(http::error::bad_target).category() &&
            ec != http::error::end_of_stream && ec != http::error::partial_message)
            return respond(http::status::bad_request,
                           errorJson("bad_request", "Not a valid HTTP request: " + ec.message()),
                           true);
        close();  // the peer went away, or timed out (the stream has closed the socket)
    }

    void dispatch() {
        state_ = State::Busy;
        stream_.expires_never();
        keepAlive_ = parser_->keep_alive();
        std::string body = std::move(parser_->get().body());
        parser_.reset();
        net::post(server_.pool, [self = shared_from_this(), body = std::move(body)]() mutable {
            Server& server = self->server_;
            Answer answer = server.abandoned.load() ? Answer{} : server.processor.process(body);
            net::post(server.ioc, [self = std::move(self), answer = std::move(answer)]() mutable {
                if (!self->server_.tearingDown) self->answered(std::move(answer));
            });
        });
    }

    // respond: writes one answer; `close` ends the connection after it. A refused request's body
    // is still unread then: it is read and dropped for a moment rather than taken as a request.
    void respond(http::status status, std::string body, bool close, bool allowPost = false) {
        const bool bodyUnread = parser_ && !parser_->is_done();
        const bool keep = !close && !server_.stopping;
        auto response = std::make_shared<http::response<http::string_body>>(status, 11);
        response->set(http::field::server, "connector-host");
        response->set(http::field::cache_control, "no-store");
        if (allowPost) response->set(http::field::allow, "POST");
        if (allowedOrigin_) {
            response->set(http::field::access_control_allow_origin, *allowedOrigin_);
            response->set(http::field::vary, "Origin");
            if (status == http::status::no_content) {
                response->set(http::field::access_control_allow_methods, "POST");
                response->set(http::field::access_control_allow_headers,
                              "Content-Type, Authorization");
                response->set(http::field::access_control_max_age, "600");
            }
        }
        if (!body.empty()) {
            response->set(http::field::content_type, "application/json");
            response->body() = std::move(body) + "\n";
        }
        response->keep_alive(keep);
        response->prepare_payload();

        state_ = State::Writing;
        stream_.expires_after(server_.options.requestTimeout);
        http::async_write(stream_, *response,
                          [self = shared_from_this(), response, keep, bodyUnread](
                              beast::error_code ec, std::size_t) {
                              if (ec) return self->close();
                              if (keep) return self->awaitRequest();
                              if (bodyUnread) return self->linger();
                              self->shutdown();
                          });
    }

    // The playground page (Playground.hpp), or its 405, written as respond() writes an answer.
    void respondPage(const Verdict& verdict) {
        const bool bodyUnread = !parser_->is_done();
        const bool keep =
            verdict.status == 200 && parser_->keep_alive() && !bodyUnread && !server_.stopping;
        auto response = std::make_shared<PageResponse>(
            pageResponse(verdict, parser_->get().method() == http::verb::head, keep));
        state_ = State::Writing;
        stream_.expires_after(server_.options.requestTimeout);
        http::async_write(stream_, *response,
                          [self = shared_from_this(), response, keep, bodyUnread](
                              beast::error_code ec, std::size_t) {
                              if (ec) return self->close();
                              if (keep) return self->awaitRequest();
                              if (bodyUnread) return self->linger();
                              self->shutdown();
                          });
    }

    void linger() {
        state_ = State::Lingering;
        parser_.reset();
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.expires_after(kLinger);
        dropInput();
    }

    void dropInput() {
        buffer_.consume(buffer_.size());
        stream_.async_read_some(buffer_.prepare(16 * 1024),
                                [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                    if (ec) return self->close();
                                    self->dropInput();
                                });
    }

    void shutdown() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        close();
    }

  private:
    Server& server_;
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::optional<std::string> allowedOrigin_;
    State state_ = State::Reading;
    bool keepAlive_ = false;
};

void HttpFrontEnd::Server::accept() {
    if (stopping) return;
    if (connections.size() >= options.maxConnections) {
        acceptPaused = true;  // resumed when a connection closes
        return;
    }
    acceptor.async_accept(ioc, [this](beast::error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted || stopping) return;
        if (ec) {
            // Out of descriptors, say: try again shortly rather than spin.
            acceptRetry.expires_after(kAcceptRetry);
            acceptRetry.async_wait([this](beast::error_code waited) {
                if (!waited) accept();
            });
            return;
        }
        std::make_shared<Connection>(*this, std::move(socket))->start();
        accept();
    });
}

void HttpFrontEnd::Server::beginStop() {
    stopping = true;
    beast::error_code ignored;
    acceptor.close(ignored);
    acceptRetry.cancel();
    const std::vector<Connection*> open(connections.begin(), connections.end());
    for (Connection* connection : open) connection->stopNow();
    if (connections.empty()) {
        keepRunning.reset();
        return;
    }
    drainTimer.expires_after(options.drainTimeout);
    drainTimer.async_wait([this](beast::error_code ec) {
        if (!ec) drainDeadline();
    });
}

void HttpFrontEnd::Server::drainDeadline() {
    abandoned = true;
    const std::vector<Connection*> open(connections.begin(), connections.end());
    for (Connection* connection : open) connection->drainDeadline();
}

void HttpFrontEnd::Server::closed(Connection* connection) {
    connections.erase(connection);
    if (tearingDown) return;
    if (stopping) {
        if (connections.empty()) {
            drainTimer.cancel();
            keepRunning.reset();
        }
        return;
    }
    if (acceptPaused) {
        acceptPaused = false;
        accept();
    }
}

HttpFrontEnd::HttpFrontEnd(EnvelopeProcessor& processor, HttpOptions options)
    : server_(std::make_unique<Server>(processor, std::move(options))) {}

HttpFrontEnd::~HttpFrontEnd() {
    stop();
    join();
}

void HttpFrontEnd::start() {
    server_->start();
}

void HttpFrontEnd::stop() {
    server_->stop();
}

void HttpFrontEnd::join() {
    server_->join();
}

std::uint16_t HttpFrontEnd::port() const {
    return server_->policy.port;
}

}  // namespace connectorhost
