// Request framing: what frames a body, what is refused, and every limit at its edge.
#include <gtest/gtest.h>

#include <boost/beast/http/error.hpp>

#include "tools/connector-host/http/HttpRequestParser.hpp"

namespace connectorhost {
namespace {

namespace http = boost::beast::http;

constexpr std::size_t BODY_LIMIT = 64;

struct Parsed {
    bool done = false;
    std::optional<ErrorKind> refused;  // a refusal, by the parser's rules or by Beast's
    std::string body;
    bool keepAlive = false;
};

Parsed parse(std::string bytes, std::size_t bodyLimit = BODY_LIMIT) {
    HttpRequestParser parser(bodyLimit);
    std::size_t at = 0;
    Parsed parsed;
    while (!parser.is_done()) {
        boost::beast::error_code error;
        const std::size_t used =
            parser.feed(boost::asio::buffer(bytes.data() + at, bytes.size() - at), error);
        at += used;
        if (error == http::error::need_more) break;
        if (error) {
            parsed.refused = parser.explain(error).kind;
            return parsed;
        }
        if (parser.is_header_done() && parser.refuseOversizedBody()) {
            parsed.refused = parser.refuseOversizedBody()->kind;
            return parsed;
        }
        if (used == 0) break;  // waiting for more input
    }
    parsed.done = parser.is_done();
    parsed.body = parser.body();
    parsed.keepAlive = parsed.done && parser.keepAlive();
    return parsed;
}

std::string request(const std::string& fields, const std::string& body = "",
                    const char* version = "1.1") {
    return std::string("POST /messages HTTP/") + version + "\r\nHost: h\r\n" + fields + "\r\n" +
           body;
}

std::string chunked(const std::string& chunks, const char* codings = "chunked") {
    return request(std::string("Transfer-Encoding: ") + codings + "\r\n", chunks);
}

TEST(HttpRequestParserTest, OnlyChunkedOrOnePlainLengthFramesABody) {
    struct Case {
        const char* what;
        std::string bytes;
        std::optional<ErrorKind> refused;
    };
    const std::string chunks = "2\r\n{}\r\n0\r\n\r\n";
    const Case cases[] = {
        {"a length", request("Content-Length: 2\r\n", "{}"), std::nullopt},
        {"chunked in any case", chunked(chunks, "Chunked"), std::nullopt},
        {"no framing: no body", request(""), std::nullopt},
        {"an unknown coding", chunked(chunks, "xchunked"), ErrorKind::BadRequest},
        {"chunked, then another", chunked(chunks, "chunked, identity"), ErrorKind::BadRequest},
        {"gzip alone", chunked(chunks, "gzip"), ErrorKind::BadRequest},
        {"chunked twice", chunked(chunks, "chunked, chunked"), ErrorKind::BadRequest},
        {"a coding before chunked", chunked(chunks, "gzip, chunked"), ErrorKind::NotImplemented},
        {"chunked with a parameter", chunked(chunks, "chunked;x=1"), ErrorKind::BadRequest},
        {"an empty coding list", chunked(chunks, " , "), ErrorKind::BadRequest},
        {"chunked in HTTP/1.0", request("Transfer-Encoding: chunked\r\n", chunks, "1.0"),
         ErrorKind::BadRequest},
        {"an unknown coding beside a length",
         request("Transfer-Encoding: gzip\r\nContent-Length: 2\r\n", "{}"), ErrorKind::BadRequest},
        {"a length beside chunked",
         request("Content-Length: 2\r\nTransfer-Encoding: chunked\r\n", chunks),
         ErrorKind::BadRequest},
        {"two equal lengths", request("Content-Length: 2\r\nContent-Length: 2\r\n", "{}"),
         ErrorKind::BadRequest},
        {"a list of lengths", request("Content-Length: 2, 2\r\n", "{}"), ErrorKind::BadRequest},
        {"a signed length", request("Content-Length: +2\r\n", "{}"), ErrorKind::BadRequest},
        {"a hexadecimal length", request("Content-Length: 0x2\r\n", "{}"), ErrorKind::BadRequest},
        {"two Host fields", request("Host: evil.example:80\r\n"), ErrorKind::BadRequest},
        {"two Origin fields", request("Origin: http://a\r\nOrigin: http://b\r\n"),
         ErrorKind::BadRequest},
        {"two Content-Type fields",
         request("Content-Type: application/json\r\nContent-Type: text/plain\r\n"),
         ErrorKind::BadRequest},
        {"two Authorization fields",
         request("Authorization: Bearer a\r\nAuthorization: Bearer a\r\n"), ErrorKind::BadRequest},
        {"a higher minor version", "POST /messages HTTP/1.2\r\nHost: h\r\n\r\n", std::nullopt},
        {"another major version", "POST /messages HTTP/2.0\r\nHost: h\r\n\r\n",
         ErrorKind::BadRequest},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Parsed parsed = parse(c.bytes);
        EXPECT_EQ(parsed.refused, c.refused);
        if (!c.refused) {
            EXPECT_TRUE(parsed.done);
        }
    }
    EXPECT_EQ(parse(chunked("1\r\n{\r\n1;ext=\"v\"\r\n}\r\n0\r\n\r\n")).body, "{}");
}

TEST(HttpRequestParserTest, BodyExtensionAndTrailerLimitsHoldAtTheirEdge) {
    const std::string atLimit(BODY_LIMIT, 'x');
    EXPECT_EQ(parse(request("Content-Length: 64\r\n", atLimit)).body, atLimit);
    EXPECT_EQ(parse(request("Content-Length: 65\r\n", atLimit + "x")).refused, ErrorKind::TooLarge);
    EXPECT_EQ(parse(request("Content-Length: 65\r\n")).refused,
              ErrorKind::TooLarge);  // by the head
    EXPECT_EQ(parse(request("Content-Length: 64\r\n")).refused, std::nullopt);
    EXPECT_EQ(parse(chunked("20\r\n" + atLimit.substr(32) + "\r\n20\r\n" + atLimit.substr(32) +
                            "\r\n0\r\n\r\n"))
                  .body,
              atLimit);
    EXPECT_EQ(parse(chunked("40\r\n" + atLimit + "\r\n1\r\nx\r\n0\r\n\r\n")).refused,
              ErrorKind::TooLarge);
    EXPECT_EQ(parse(chunked("ffffffffffffffff\r\n")).refused, ErrorKind::TooLarge);

    // Extensions are counted across the chunks of a request, ";" included.
    const auto withExtensions = [](std::size_t first, std::size_t second) {
        return chunked("1;" + std::string(first - 1, 'a') + "\r\nx\r\n0;" +
                       std::string(second - 1, 'b') + "\r\n\r\n");
    };
    const std::size_t limit = HttpRequestParser::CHUNK_EXTENSION_LIMIT;
    EXPECT_TRUE(parse(withExtensions(limit - 10, 10)).done);
    EXPECT_EQ(parse(withExtensions(limit - 10, 11)).refused, ErrorKind::BadRequest);

    // Trailer fields count with the head: a trailer that fits beside a small head is refused
    // beside a head that fills most of the limit; one field of 64 KiB is refused, never stored.
    const std::string trailer = "0\r\nX-T: " + std::string(4000, 't') + "\r\n\r\n";
    EXPECT_TRUE(parse(chunked("1\r\nx\r\n" + trailer)).done);
    const std::string bigHead =
        "X-H: " + std::string(4500, 'h') + "\r\nTransfer-Encoding: chunked\r\n";
    EXPECT_EQ(parse(request(bigHead, "1\r\nx\r\n" + trailer)).refused, ErrorKind::HeadTooLarge);
    EXPECT_EQ(
        parse(chunked("1\r\nx\r\n0\r\nX-Big: " + std::string(65535, 'a') + "\r\n\r\n")).refused,
        ErrorKind::HeadTooLarge);
    std::string many;
    for (int i = 0; i < 1000; ++i) many += "X-" + std::to_string(i) + ": v\r\n";
    EXPECT_EQ(parse(chunked("1\r\nx\r\n0\r\n" + many + "\r\n")).refused, ErrorKind::HeadTooLarge);
    EXPECT_EQ(parse(request("X-Big: " + std::string(HttpRequestParser::HEAD_LIMIT, 'a') + "\r\n"))
                  .refused,
              ErrorKind::HeadTooLarge);
    // The request line and the fields share the one limit.
    const std::string half(HttpRequestParser::HEAD_LIMIT / 2, 'a');
    EXPECT_EQ(parse("POST /" + half + " HTTP/1.1\r\nHost: h\r\nX-A: " + half + "\r\n\r\n").refused,
              ErrorKind::HeadTooLarge);
    EXPECT_EQ(parse("POST /" + half + half + " HTTP/1.1\r\n\r\n").refused, ErrorKind::HeadTooLarge);
    const auto fieldsOf = [](std::size_t headBytes) {  // a head of exactly `headBytes`
        const std::string line = "POST /messages HTTP/1.1\r\nHost: h\r\n";
        return line + "X-A: " + std::string(headBytes - line.size() - 9, 'a') + "\r\n\r\n";
    };
    EXPECT_TRUE(parse(fieldsOf(HttpRequestParser::HEAD_LIMIT)).done);
    EXPECT_EQ(parse(fieldsOf(HttpRequestParser::HEAD_LIMIT + 1)).refused, ErrorKind::HeadTooLarge);
}

TEST(HttpRequestParserTest, CloseAnywhereEndsTheConnection) {
    const std::pair<std::string, bool> cases[] = {
        {request(""), true},
        {request("", "", "1.0"), false},
        {request("Connection: keep-alive\r\n", "", "1.0"), true},
        {request("Connection: keep-alive, close\r\n", "", "1.0"), false},
        {request("Connection: keep-alive\r\nConnection: close\r\n", "", "1.0"), false},
        {request("Connection: Keep-Alive, CLOSE\r\n"), false},
        {request("Connection: upgrade\r\nConnection: close\r\n"), false},
        {"POST /messages HTTP/1.2\r\nHost: h\r\n\r\n", true},
    };
    for (const auto& [bytes, keepAlive] : cases) {
        SCOPED_TRACE(bytes);
        EXPECT_EQ(parse(bytes).keepAlive, keepAlive);
    }
}

}  // namespace
}  // namespace connectorhost
