#include "tools/connector-host/http/HttpRequestParser.hpp"

#include <algorithm>
#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/rfc7230.hpp>
#include <charconv>
#include <limits>
#include <vector>

namespace connectorhost {
namespace {

namespace http = boost::beast::http;
using boost::beast::error_code;
using boost::beast::string_view;

bool isPlainDigits(string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The transfer codings of every Transfer-Encoding field, in order, without empty list elements.
std::vector<std::string> transferCodings(const http::fields& fields) {
    std::vector<std::string> codings;
    for (auto [it, end] = fields.equal_range(http::field::transfer_encoding); it != end; ++it) {
        std::vector<std::string> items;
        const std::string value(it->value());
        boost::algorithm::split(items, value, [](char c) { return c == ','; });
        for (std::string& item : items) {
            boost::algorithm::trim_if(item, [](char c) { return c == ' ' || c == '\t'; });
            if (!item.empty()) codings.push_back(std::move(item));
        }
    }
    return codings;
}

bool isChunked(const std::string& coding) {
    return boost::algorithm::iequals(coding, "chunked");
}

// The fields that the host's decisions read and that a request may carry once: a second one
// could be read two ways (which Host, which Origin?), so it is refused rather than one chosen.
const std::pair<http::field, const char*> SINGLE_FIELDS[] = {
    {http::field::host, "Host"},
    {http::field::origin, "Origin"},
    {http::field::content_type, "Content-Type"},
    {http::field::content_length, "Content-Length"},
    {http::field::authorization, "Authorization"},
};

// Whether any Connection field lists `option` (a list may span several fields).
bool hasConnectionOption(const http::fields& fields, const char* option) {
    for (auto [it, end] = fields.equal_range(http::field::connection); it != end; ++it)
        for (const auto& token : http::token_list(it->value()))
            if (boost::beast::iequals(token, option)) return true;
    return false;
}

}  // namespace

HttpRequestParser::HttpRequestParser(std::size_t bodyLimit) : bodyLimit(bodyLimit) {
    header_limit(static_cast<std::uint32_t>(HEAD_LIMIT));
    // The body limit is kept here, so that a request is judged before its length is. (Beast's
    // own check cannot be turned off: boost::none compares below every length.)
    body_limit(std::numeric_limits<std::uint64_t>::max());
}

std::optional<std::string> HttpRequestParser::field(http::field name) const {
    const auto found = head.find(name);
    if (found == head.end()) return std::nullopt;
    return std::string(found->value());
}

bool HttpRequestParser::keepAlive() const {
    if (hasConnectionOption(head, "close")) return false;
    return httpVersion >= 11 || hasConnectionOption(head, "keep-alive");
}

std::size_t HttpRequestParser::feed(boost::asio::mutable_buffer input, error_code& ec) {
    // Until the request line is read, the input starts with it (the head is parsed whole).
    if (methodName.empty())
        readAsHighestMinorVersion(static_cast<char*>(input.data()), input.size());
    return put(boost::asio::const_buffer(input.data(), input.size()), ec);
}

void HttpRequestParser::readAsHighestMinorVersion(char* data, std::size_t size) {
    const std::string_view input(data, size);
    const std::size_t end = input.find("\r\n");
    static constexpr std::string_view VERSION = " HTTP/1.";
    if (end == std::string_view::npos || end < VERSION.size() + 1) return;
    const std::size_t at = end - VERSION.size() - 1;
    const char minor = data[end - 1];
    if (input.substr(at, VERSION.size()) == VERSION && minor >= '2' && minor <= '9')
        data[end - 1] = '1';
}

std::optional<Refusal> HttpRequestParser::refuseOversizedBody() const {
    if (!declaredLength || *declaredLength <= bodyLimit) return std::nullopt;
    return Refusal{ErrorKind::TooLarge, "Input of " + std::to_string(*declaredLength) +
                                            " bytes exceeds the limit of " +
                                            std::to_string(bodyLimit) + " bytes"};
}

Refusal HttpRequestParser::explain(const error_code& error) const {
    if (refused) return *refused;
    if (error == http::error::header_limit)
        return {ErrorKind::HeadTooLarge,
                "The request head exceeds " + std::to_string(HEAD_LIMIT) + " bytes"};
    if (error == http::error::body_limit)
        return {ErrorKind::TooLarge,
                "The body exceeds the limit of " + std::to_string(bodyLimit) + " bytes"};
    return {ErrorKind::BadRequest, "Not a valid HTTP request: " + error.message()};
}

void HttpRequestParser::refuse(ErrorKind kind, std::string message, error_code& ec) {
    refused = Refusal{kind, std::move(message)};
    ec = kind == ErrorKind::HeadTooLarge ? error_code(http::error::header_limit)
         : kind == ErrorKind::TooLarge   ? error_code(http::error::body_limit)
                                         : error_code(http::error::bad_transfer_encoding);
}

void HttpRequestParser::on_request_impl(http::verb method, string_view methodString,
                                        string_view target, int version, error_code&) {
    verb = method;
    methodName.assign(methodString.data(), methodString.size());
    requestTarget.assign(target.data(), target.size());
    httpVersion = static_cast<unsigned>(version);
    // The line as sent (sizeof counts the space after the method), and the empty line that ends
    // the head.
    headBytes = methodString.size() + target.size() + sizeof(" HTTP/1.1\r\n") + 2;
}

void HttpRequestParser::refuseLongHead(error_code& ec) {
    refuse(ErrorKind::HeadTooLarge,
           (trailerStarted ? "The request head and trailer exceed " : "The request head exceeds ") +
               std::to_string(HEAD_LIMIT) + " bytes",
           ec);
}

void HttpRequestParser::on_response_impl(int, string_view, int, error_code& ec) {
    ec = http::error::bad_method;  // a request parser never reads a status line
}

void HttpRequestParser::on_field_impl(http::field name, string_view nameString, string_view value,
                                      error_code& ec) {
    // The request line, the fields and the trailer count together against one limit. Trailer
    // fields are not kept.
    headBytes += nameString.size() + value.size() + 4;  // ": " and CRLF
    if (headBytes > HEAD_LIMIT) return refuseLongHead(ec);
    if (!trailerStarted) head.insert(name, nameString, value);
}

void HttpRequestParser::on_header_impl(error_code& ec) {
    checkFraming(ec);
}

void HttpRequestParser::checkFraming(error_code& ec) {
    for (const auto& [field, name] : SINGLE_FIELDS)
        if (head.count(field) > 1)
            return refuse(ErrorKind::BadRequest,
                          std::string("A request may carry one ") + name + " field", ec);
    const auto lengths = head.count(http::field::content_length);
    if (lengths == 1) {
        const string_view length = head[http::field::content_length];
        std::uint64_t value = 0;
        if (!isPlainDigits(length) ||
            std::from_chars(length.data(), length.data() + length.size(), value).ec != std::errc())
            return refuse(
                ErrorKind::BadRequest,
                "Content-Length " + quoted(std::string(length)) + " is not a plain decimal number",
                ec);
        declaredLength = value;
    }
    if (head.count(http::field::transfer_encoding) == 0) return;
    if (httpVersion < 11)
        return refuse(ErrorKind::BadRequest,
                      "Transfer-Encoding is not allowed in an HTTP/1.0 request", ec);
    if (lengths > 0)
        return refuse(ErrorKind::BadRequest,
                      "A request may not carry both Transfer-Encoding and Content-Length", ec);
    checkTransferCoding(ec);
}

void HttpRequestParser::checkTransferCoding(error_code& ec) {
    const std::vector<std::string> codings = transferCodings(head);
    if (codings.empty() || !isChunked(codings.back()))
        return refuse(ErrorKind::BadRequest,
                      "The body's length cannot be determined: the final transfer coding must be "
                      "chunked, not " +
                          quoted(codings.empty() ? std::string() : codings.back()),
                      ec);
    if (std::count_if(codings.begin(), codings.end(), isChunked) > 1)
        return refuse(ErrorKind::BadRequest, "chunked may be applied to a body only once", ec);
    if (codings.size() > 1)
        return refuse(
            ErrorKind::NotImplemented,
            "Transfer coding " + quoted(codings.front()) + " is not implemented (only chunked)",
            ec);
}

void HttpRequestParser::on_body_init_impl(const boost::optional<std::uint64_t>&, error_code&) {
    // What is reserved ahead is bounded: a declared length costs memory only as it arrives.
    constexpr std::uint64_t RESERVED = 64 * 1024;
    content.reserve(static_cast<std::size_t>(std::min(declaredLength.value_or(0), RESERVED)));
}

std::size_t HttpRequestParser::on_body_impl(string_view body, error_code& ec) {
    if (content.size() + body.size() > bodyLimit) {
        ec = http::error::body_limit;
        return 0;
    }
    content.append(body.data(), body.size());
    return body.size();
}

void HttpRequestParser::on_chunk_header_impl(std::uint64_t size, string_view extensions,
                                             error_code& ec) {
    extensionBytes += extensions.size();
    if (extensionBytes > CHUNK_EXTENSION_LIMIT)
        return refuse(ErrorKind::BadRequest,
                      "Chunk extensions exceed " + std::to_string(CHUNK_EXTENSION_LIMIT) + " bytes",
                      ec);
    if (size == 0) trailerStarted = true;
    chunkedBytes += size;  // chunk sizes are at most 2^64-1 each, checked one by one
    if (size > bodyLimit || chunkedBytes > bodyLimit)
        return refuse(ErrorKind::TooLarge,
                      "The body exceeds the limit of " + std::to_string(bodyLimit) + " bytes", ec);
}

std::size_t HttpRequestParser::on_chunk_body_impl(std::uint64_t, string_view body, error_code&) {
    content.append(body.data(), body.size());
    return body.size();
}

void HttpRequestParser::on_finish_impl(error_code&) {}

}  // namespace connectorhost
