// The scan before the JSON parser: each refusal at its edge, with its kind and byte offset.
#include <gtest/gtest.h>

#include "tools/connector-host/core/ErrorKind.hpp"
#include "tools/connector-host/core/InputScan.hpp"

namespace connectorhost {
namespace {

const ScanLimits LIMITS{4, 6};

std::optional<ErrorKind> scan(const std::string& text, std::string* message = nullptr) {
    try {
        scanInput(text, LIMITS);
        return std::nullopt;
    } catch (const RequestError& error) {
        if (message) *message = error.what();
        return error.kind;
    }
}

TEST(InputScanTest, EachLimitHoldsExactlyAtItsEdge) {
    struct Case {
        const char* what;
        std::string text;
        std::optional<ErrorKind> refused;
    };
    const Case cases[] = {
        {"depth at the limit", "[[[[1]]]]", std::nullopt},
        {"depth one past it", "[[[[[1]]]]]", ErrorKind::TooDeep},
        {"objects count as depth", R"({"a":{"b":{"c":{"d":{}}}}})", ErrorKind::TooDeep},
        {"values at the limit", "[1,2,3,true,null]", std::nullopt},
        {"values one past it", "[1,2,3,true,null,\"x\"]", ErrorKind::TooManyValues},
        {"keys are not values", R"({"a":1,"b":2,"c":3,"d":4,"e":5})", std::nullopt},
        {"brackets inside texts are text", R"(["[[[[[[", "{{{{{{"])", std::nullopt},
        {"an escaped quote does not end a text", R"(["\"[[[[[[["])", std::nullopt},
        {"the largest unsigned integer", "18446744073709551615", std::nullopt},
        {"one more", "18446744073709551616", ErrorKind::NumberOutOfRange},
        {"the smallest signed integer", "-9223372036854775808", std::nullopt},
        {"one less", "-9223372036854775809", ErrorKind::NumberOutOfRange},
        {"a large fraction is the parser's", "1e400", std::nullopt},
        {"UTF-8 text", "[\"\xC3\xA9\xF0\x9F\x98\x80\"]", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(scan(c.text), c.refused);
    }
}

TEST(InputScanTest, BytesAParserWouldMisreadAreRefusedWithTheirOffset) {
    std::string message;
    EXPECT_EQ(scan(std::string("[\"a\0\"]", 6), &message), ErrorKind::ParseError);
    EXPECT_EQ(message, "Not JSON: NUL byte at byte 3");
    EXPECT_EQ(scan("[\"ab\xC3\"]", &message), ErrorKind::ParseError);  // a truncated sequence
    EXPECT_EQ(message, "Not JSON: invalid UTF-8 at byte 4");
    EXPECT_EQ(scan("[\"\xED\xA0\x80\"]", &message), ErrorKind::ParseError);  // a surrogate
    EXPECT_EQ(scan("[1,\xFF]", &message), ErrorKind::ParseError);
    EXPECT_EQ(message, "Not JSON: invalid UTF-8 at byte 3");
    EXPECT_EQ(scan("[[[[[1]]]]]", &message), ErrorKind::TooDeep);
    EXPECT_EQ(message, "JSON nested deeper than 4 levels at byte 4");
}

}  // namespace
}  // namespace connectorhost
