// connectorhost::HttpConnection: one client connection: wait for a request, read its head, judge
// it (HttpPolicy), read its body, process it, write the answer, and again while the client keeps
// the connection alive. What it needs of the server that accepted it is its ConnectionOwner.
//
// Every handler runs on the connection's strand. A request that breaks a framing rule or a limit
// (HttpRequestParser), or that is refused, is answered with "Connection: close" and the input
// after it is read and dropped for a moment, never taken as a request. An exception raised while
// the connection is served ends that connection only: a request still being read is answered
// 400, and the failure is logged.
//
// Ownership: shared; the pending operations hold it. Threads: the owner calls claimForReclaim,
// activity and isOverdue from any thread; everything else runs on the strand.
#pragma once

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/serializer.hpp>
#include <boost/beast/http/string_body.hpp>
#include <chrono>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "tools/connector-host/http/ConnectionReclaim.hpp"
#include "tools/connector-host/http/HttpPolicy.hpp"
#include "tools/connector-host/http/HttpRequestParser.hpp"
#include "tools/connector-host/http/HttpResponses.hpp"

namespace connectorhost {

class ConnectionOwner;

class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
  public:
    // The socket's executor must be a strand of its own on `loop`.
    HttpConnection(ConnectionOwner& owner, boost::asio::ip::tcp::socket accepted,
                   boost::asio::io_context& loop);
    ~HttpConnection();

    void start();
    [[nodiscard]] boost::asio::io_context& eventLoop() const noexcept { return loop; }
    // stopNow: the host is stopping: a connection without a request in hand closes.
    void stopNow();
    // drainDeadline: a request still in hand is answered 503 "stopping".
    void drainDeadline();
    // processQueued: the request that waited in line for a processing slot may go on; it holds
    // the slot now.
    void processQueued();

    // isOverdue: whether the connection's deadline (the request, idle or write time-out) has
    // passed; expire() then closes it. The server looks a few times a second: deadlines cost no
    // timer operation per request.
    [[nodiscard]] bool isOverdue(std::chrono::steady_clock::time_point now) const noexcept;
    void expire();

    // activity: what the connection is doing, for choosing one to reclaim.
    [[nodiscard]] ConnectionActivity activity() const noexcept;
    // claimForReclaim: takes the connection if it is still in `seen`; then reclaim() closes it.
    [[nodiscard]] bool claimForReclaim(ConnectionPhase seen) noexcept;
    void reclaim(ConnectionPhase seen);

  private:
    enum class State { Reading, Busy, Writing, Lingering, Closed };

    void keepPlaceIfAsked();
    void awaitRequest();
    void readSome();
    void onRead(const boost::system::error_code& error, std::size_t size);
    bool beginRequest(std::size_t size);
    void parseBuffered();
    bool judgeHead();
    void continueAfterInterim();
    void bufferFull();
    void parseFailed(const boost::system::error_code& error);
    void dispatch();
    void process();
    void refuseStopping();
    void afterWrite(bool keep, bool inputUnread);
    void refuse(ErrorKind kind, const std::string& message, const char* allow = nullptr);
    void respond(unsigned status, std::string json, bool close, const char* allow = nullptr);
    void respondRead(Verdict::Action action);
    void report(unsigned status, std::size_t bytesOut) noexcept;
    using ResponseSerializer =
        boost::beast::http::response_serializer<boost::beast::http::string_body>;
    void write(std::shared_ptr<HttpResponse> response, bool keep);
    void writeRest(std::shared_ptr<HttpResponse> response,
                   std::shared_ptr<ResponseSerializer> serializer, bool keep, bool inputUnread);
    void linger();
    void dropInput();
    void close() noexcept;
    void setPhase(ConnectionPhase next, std::uint64_t size,
                  std::chrono::steady_clock::time_point from = std::chrono::steady_clock::now());
    void setDeadline(std::chrono::steady_clock::duration after) noexcept;
    template <class F>
    void guarded(F&& step) noexcept;
    void failed(const char* what) noexcept;

    // Facts: what the request in hand is, for the request log.
    struct Facts {
        std::chrono::steady_clock::time_point began;  // its first byte
        std::chrono::system_clock::time_point arrived;
        std::string method, path, session;
        std::size_t type = 0;  // in the runtime's message types
        std::size_t bytesIn = 0;
        std::optional<ErrorKind> error;
        bool served = false;  // an envelope was processed
    };

    ConnectionOwner& owner;
    boost::asio::io_context& loop;
    boost::asio::ip::tcp::socket socket;
    std::string peer;  // "127.0.0.1:PORT"
    Facts facts;
    boost::beast::flat_buffer buffer{HttpRequestParser::INPUT_BUFFER_LIMIT};
    std::optional<HttpRequestParser> parser;
    std::optional<std::string> allowedOrigin;
    std::string body;  // of the request in hand
    State state = State::Reading;
    bool judged = false;
    bool readPending = false;  // awaiting a request's bytes (readSome)
    bool keepAlive = false;
    std::chrono::steady_clock::time_point idleFrom;  // accepted, or last answer handed over

    static constexpr std::size_t READ_SIZE = 16 * 1024;

    std::atomic<ConnectionPhase> phase{ConnectionPhase::Idle};
    std::atomic<std::int64_t> since;  // steady_clock ticks
    std::atomic<std::uint64_t> bytes{0};
    static constexpr std::int64_t NO_DEADLINE = std::numeric_limits<std::int64_t>::max();
    std::atomic<std::int64_t> deadline{NO_DEADLINE};  // steady_clock ticks
};

// guarded: runs one step of the connection; an exception it raises ends the connection only.
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

}  // namespace connectorhost
