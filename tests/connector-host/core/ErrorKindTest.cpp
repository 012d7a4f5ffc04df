// The error kinds on the wire: names and statuses are a contract with every client.
#include <gtest/gtest.h>

#include <Poco/JSON/JSONException.h>

#include <boost/any.hpp>

#include "tools/connector-host/core/ErrorKind.hpp"

namespace connectorhost {
namespace {

using K = ErrorKind;

TEST(ErrorKindTest, EveryKindKeepsItsWireNameAndStatus) {
    const std::tuple<ErrorKind, const char*, unsigned> pinned[] = {
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
    };
    for (const auto& [kind, name, status] : pinned) {
        SCOPED_TRACE(name);
        EXPECT_STREQ(wireName(kind), name);
        EXPECT_EQ(httpStatus(kind), status);
    }
}

TEST(ErrorKindTest, ExceptionsAreNamedAfterTheirTypeAndAnswersAreUtf8) {
    const auto kindOf = [](auto exception) {
        try {
            throw exception;
        } catch (...) {
            return classify(std::current_exception());
        }
    };
    EXPECT_EQ(kindOf(RequestError(K::TooDeep, "deep")),
              std::make_pair(K::TooDeep, std::string("deep")));
    EXPECT_EQ(kindOf(boost::bad_any_cast()).first, K::BadAnyCast);
    EXPECT_EQ(kindOf(std::invalid_argument("i")).first, K::InvalidArgument);
    EXPECT_EQ(kindOf(std::out_of_range("o")).first, K::LogicError);
    EXPECT_EQ(kindOf(std::runtime_error("r")), std::make_pair(K::RuntimeError, std::string("r")));
    EXPECT_EQ(kindOf(Poco::JSON::JSONException("j")).first, K::JsonError);
    EXPECT_EQ(kindOf(std::bad_alloc()).first, K::HostFailure);
    EXPECT_EQ(kindOf(42).first, K::UnknownError);

    EXPECT_EQ(errorAnswer(K::NotFound, "caf\xC3\xA9"),
              R"({"error":{"kind":"not_found","message":"café"}})");
    EXPECT_EQ(errorAnswer(K::ForbiddenOrigin, "bad \xFF\xC3"),
              R"({"error":{"kind":"forbidden_origin","message":"bad \\xFF\\xC3"}})");
}

}  // namespace
}  // namespace connectorhost
