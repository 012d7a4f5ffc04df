// The error kinds on the wire: names and statuses are a contract with every client.
#include <gtest/gtest.h>

#include <Poco/JSON/JSONException.h>

#include <boost/any.hpp>

#include "tools/connector-host/core/ErrorKind.hpp"

namespace connectorhost {
namespace {

using K = ErrorKind;

TEST(ErrorKindTest, EveryKindKeepsItsWireNameAndStatus) {
    std::string table;
    for (int kind = 0; kind <= static_cast<int>(K::Overloaded); ++kind)
        table += std::string(wireName(static_cast<K>(kind))) + " " +
                 std::to_string(httpStatus(static_cast<K>(kind))) + ", ";
    EXPECT_EQ(table,
              "too_large 413, parse_error 400, too_deep 400, too_many_values 400, "
              "number_out_of_range 400, invalid_envelope 400, unknown_type 400, no_provider 400, "
              "too_many_messages 400, too_many_features 400, decode_error 400, "
              "answer_too_large 400, encode_error 500, runtime_error 500, invalid_argument 500, "
              "logic_error 500, bad_any_cast 500, json_error 500, host_error 500, "
              "unknown_error 500, bad_request 400, unauthorized 401, forbidden_host 403, "
              "forbidden_origin 403, not_found 404, method_not_allowed 405, "
              "unsupported_media_type 415, too_large 431, not_implemented 501, stopping 503, "
              "overloaded 503, ");
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
