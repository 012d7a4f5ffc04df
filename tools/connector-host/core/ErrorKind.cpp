#include "tools/connector-host/core/ErrorKind.hpp"

#include <Poco/Exception.h>

#include <array>
#include <boost/any.hpp>
#include <boost/exception/diagnostic_information.hpp>
#include <boost/locale/utf.hpp>
#include <sstream>

namespace connectorhost {
namespace {

using K = ErrorKind;

constexpr std::array<ErrorKindInfo, 31> TABLE{{
    {K::TooLarge, "too_large", 413},
    {K::ParseError, "parse_error", 400},
    {K::TooDeep, "too_deep", 400},
    {K::TooManyValues, "too_many_values", 400},
    {K::NumberOutOfRange, "number_out_of_range", 400},
    {K::InvalidEnvelope, "invalid_envelope", 400},
    {K::UnknownType, "unknown_type", 400},
    {K::NoProvider, "no_provider", 400},
    {K::TooManyMessages, "too_many_messages", 400},
    {K::TooManyFeatures, "too_many_features", 400},
    {K::DecodeError, "decode_error", 400},
    {K::AnswerTooLarge, "answer_too_large", 400},
    {K::EncodeError, "encode_error", 500},
    {K::RuntimeError, "runtime_error", 500},
    {K::InvalidArgument, "invalid_argument", 500},
    {K::LogicError, "logic_error", 500},
    {K::BadAnyCast, "bad_any_cast", 500},
    {K::JsonError, "json_error", 500},
    {K::HostFailure, "host_error", 500},
    {K::UnknownError, "unknown_error", 500},
    {K::BadRequest, "bad_request", 400},
    {K::Unauthorized, "unauthorized", 401},
    {K::ForbiddenHost, "forbidden_host", 403},
    {K::ForbiddenOrigin, "forbidden_origin", 403},
    {K::NotFound, "not_found", 404},
    {K::MethodNotAllowed, "method_not_allowed", 405},
    {K::UnsupportedMediaType, "unsupported_media_type", 415},
    {K::HeadTooLarge, "too_large", 431},
    {K::NotImplemented, "not_implemented", 501},
    {K::Stopping, "stopping", 503},
    {K::Overloaded, "overloaded", 503},
}};

// The table is indexed by the enumerator: a row out of place is a compile error.
constexpr bool rowsInOrder() {
    for (std::size_t i = 0; i < TABLE.size(); ++i)
        if (static_cast<std::size_t>(TABLE[i].kind) != i) return false;
    return static_cast<std::size_t>(K::Overloaded) + 1 == TABLE.size();
}
static_assert(rowsInOrder(), "one row per ErrorKind, in the order of the enumeration");

bool isUtf8(const std::string& text) {
    using Utf8 = boost::locale::utf::utf_traits<char>;
    for (const char *p = text.data(), *end = p + text.size(); p != end;) {
        const auto point = Utf8::decode(p, end);
        if (point == boost::locale::utf::illegal || point == boost::locale::utf::incomplete)
            return false;
    }
    return true;
}

}  // namespace

const ErrorKindInfo& info(ErrorKind kind) noexcept {
    return TABLE[static_cast<std::size_t>(kind)];
}

std::string errorAnswer(ErrorKind kind, const std::string& message, Poco::JSON::Object::Ptr head) {
    if (!head) head = new Poco::JSON::Object(Poco::JSON_PRESERVE_KEY_ORDER);
    Poco::JSON::Object::Ptr error = new Poco::JSON::Object(Poco::JSON_PRESERVE_KEY_ORDER);
    error->set("kind", std::string(wireName(kind)));
    error->set("message", isUtf8(message) ? message : printable(message));
    head->set("error", error);
    std::ostringstream text;
    head->stringify(text);
    return text.str();
}

std::pair<ErrorKind, std::string> classify(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const RequestError& e) {
        return {e.kind, e.what()};
    } catch (const boost::bad_any_cast& e) {
        return {K::BadAnyCast, e.what()};
    } catch (const std::invalid_argument& e) {
        return {K::InvalidArgument, e.what()};
    } catch (const std::logic_error& e) {
        return {K::LogicError, e.what()};
    } catch (const std::runtime_error& e) {
        return {K::RuntimeError, e.what()};
    } catch (const Poco::Exception& e) {
        return {K::JsonError, e.displayText()};
    } catch (const std::exception& e) {
        return {K::HostFailure, e.what()};
    } catch (const boost::exception& e) {
        return {K::HostFailure, boost::diagnostic_information(e)};
    } catch (...) {
        return {K::UnknownError, "An error of unknown type was raised"};
    }
}

std::string printable(const std::string& text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += "\\x";
            out += digits[byte >> 4];
            out += digits[byte & 0xF];
        }
    }
    return out;
}

std::string quoted(const std::string& value) {
    constexpr std::size_t SHOWN = 100;
    return "\"" + printable(value.size() > SHOWN ? value.substr(0, SHOWN) + "..." : value) + "\"";
}

}  // namespace connectorhost
