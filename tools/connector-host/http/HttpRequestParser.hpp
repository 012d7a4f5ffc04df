// connectorhost::HttpRequestParser: reads one HTTP/1.x request, head and body, keeping HTTP/1.1's
// framing rules to the letter, so that no byte of one request is ever read as another:
//
//   Transfer-Encoding   only in HTTP/1.1, only without Content-Length, and exactly "chunked";
//                       a final coding other than chunked                      400 bad_request
//                       another coding before chunked                          501 not_implemented
//   Content-Length      one field of plain digits (Boost.Beast refuses
//                       differing values and a length beside chunked)         400 bad_request
//   Host, Origin,       at most one field each: the host's decisions read     400 bad_request
//   Content-Type,       them, and two could be read two ways
//   Authorization
//   head                request line and fields at most HEAD_LIMIT bytes       431 too_large
//   trailer fields      counted with the head against HEAD_LIMIT              431 too_large
//   chunk extensions    at most CHUNK_EXTENSION_LIMIT bytes in one request      400 bad_request
//   body                at most bodyLimit bytes, as declared or as chunks      413 too_large
//
// A request of HTTP/1.2 to 1.9 is read as HTTP/1.1, the highest minor version this server speaks
// (feed). Whether the connection persists is read from every Connection field: "close" anywhere
// ends it, whatever else is listed; HTTP/1.0 persists only with "keep-alive" (keepAlive).
//
// The body is collected into a std::string; trailer fields are counted and dropped. A refusal
// found by the rules above is kept (explain()) and the parse fails with an error code; the
// caller answers it and closes the connection. The input buffer a caller feeds it from must be
// bounded too (a chunk line or a trailer is parsed only once it is whole): INPUT_BUFFER_LIMIT.
//
// Threads: one parser per request, used by one thread at a time. Errors: no exception of its own;
// allocation failures pass through put().
#pragma once

// Under the sanitizers at -O2, GCC 12 reports Beast's own optional content length as maybe used
// uninitialized where it returns boost::none (a false positive inside Boost's header).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <boost/beast/http/basic_parser.hpp>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#include <boost/asio/buffer.hpp>
#include <boost/beast/http/fields.hpp>
#include <boost/beast/http/verb.hpp>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "tools/connector-host/core/ErrorKind.hpp"

namespace connectorhost {

// Refusal: the error answer a request gets instead of being served.
struct Refusal {
    ErrorKind kind;
    std::string message;
};

class HttpRequestParser : public boost::beast::http::basic_parser<true> {
  public:
    static constexpr std::size_t HEAD_LIMIT = 8 * 1024;
    static constexpr std::size_t CHUNK_EXTENSION_LIMIT = 1024;
    // The most bytes a connection buffers ahead of the parser: a head, or a chunk line or a
    // trailer, whole. Larger ones are refused by the caller when its buffer is full.
    static constexpr std::size_t INPUT_BUFFER_LIMIT = 2 * HEAD_LIMIT;

    explicit HttpRequestParser(std::size_t bodyLimit);

    // feed: put() of `input`, whose request line, while none has been read, is rewritten in
    // place to HTTP/1.1 when it names a higher minor version.
    std::size_t feed(boost::asio::mutable_buffer input, boost::beast::error_code& ec);

    // The request head; valid once is_header_done().
    [[nodiscard]] boost::beast::http::verb method() const noexcept { return verb; }
    [[nodiscard]] const std::string& methodText() const noexcept { return methodName; }
    [[nodiscard]] const std::string& target() const noexcept { return requestTarget; }
    [[nodiscard]] const boost::beast::http::fields& fields() const noexcept { return head; }
    [[nodiscard]] std::optional<std::string> field(boost::beast::http::field name) const;
    // keepAlive: whether the connection may serve another request after this one.
    [[nodiscard]] bool keepAlive() const;

    // body: what has arrived of the body; the whole body once is_done().
    [[nodiscard]] std::string& body() noexcept { return content; }
    // explain: the answer to a request whose parse failed with `error`: the refusal of a rule
    // above, or what Boost.Beast found wrong with the request.
    [[nodiscard]] Refusal explain(const boost::beast::error_code& error) const;
    // refuseOversizedBody: the refusal of a declared length over the body limit, or nothing.
    [[nodiscard]] std::optional<Refusal> refuseOversizedBody() const;

  private:
    void on_request_impl(boost::beast::http::verb method, boost::beast::string_view methodString,
                         boost::beast::string_view target, int version,
                         boost::beast::error_code& ec) override;
    void on_response_impl(int, boost::beast::string_view, int,
                          boost::beast::error_code& ec) override;
    void on_field_impl(boost::beast::http::field name, boost::beast::string_view nameString,
                       boost::beast::string_view value, boost::beast::error_code& ec) override;
    void on_header_impl(boost::beast::error_code& ec) override;
    void on_body_init_impl(const boost::optional<std::uint64_t>& contentLength,
                           boost::beast::error_code& ec) override;
    std::size_t on_body_impl(boost::beast::string_view body, boost::beast::error_code& ec) override;
    void on_chunk_header_impl(std::uint64_t size, boost::beast::string_view extensions,
                              boost::beast::error_code& ec) override;
    std::size_t on_chunk_body_impl(std::uint64_t remain, boost::beast::string_view body,
                                   boost::beast::error_code& ec) override;
    void on_finish_impl(boost::beast::error_code& ec) override;

    static void readAsHighestMinorVersion(char* data, std::size_t size);
    void refuse(ErrorKind kind, std::string message, boost::beast::error_code& ec);
    void refuseLongHead(boost::beast::error_code& ec);
    void checkFraming(boost::beast::error_code& ec);
    void checkTransferCoding(boost::beast::error_code& ec);

    const std::size_t bodyLimit;
    boost::beast::http::verb verb = boost::beast::http::verb::unknown;
    std::string methodName;
    std::string requestTarget;
    unsigned httpVersion = 11;
    boost::beast::http::fields head;
    std::size_t headBytes = 0;  // the head's lines as sent, and then the trailer's
    std::optional<std::uint64_t> declaredLength;  // its Content-Length, once checked
    std::uint64_t chunkedBytes = 0;
    std::size_t extensionBytes = 0;
    bool trailerStarted = false;
    std::string content;
    std::optional<Refusal> refused;
};

}  // namespace connectorhost
