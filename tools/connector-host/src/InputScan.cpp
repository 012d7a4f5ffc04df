#include "tools/connector-host/InputScan.hpp"

#include <boost/locale/utf.hpp>
#include <charconv>
#include <cstdint>
#include <vector>

#include "tools/connector-host/InputError.hpp"

namespace connectorhost {
namespace {

using Utf8 = boost::locale::utf::utf_traits<char>;

[[noreturn]] void refuse(const char* kind, const std::string& message) {
    throw InputError(kind, message);
}

std::string at(std::size_t offset) {
    return " at byte " + std::to_string(offset);
}

bool isNumberChar(char c) {
    return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// An integer token the parser would keep as a 64-bit integer must fit one: a negative one in
// int64, any other in uint64. Fractions and exponents are the parser's business.
void checkInteger(std::string_view token, std::size_t offset) {
    if (token.find_first_of(".eE") != std::string_view::npos) return;
    const bool negative = !token.empty() && token.front() == '-';
    const std::string_view digits = negative ? token.substr(1) : token;
    std::uint64_t magnitude = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    if (error == std::errc::invalid_argument || end != digits.data() + digits.size())
        return;  // not a well-formed integer: the parser says what is wrong with it
    const bool fits = error != std::errc::result_out_of_range &&
                      (!negative || magnitude <= std::uint64_t{1} << 63);
    if (!fits)
        refuse("number_out_of_range", "Integer " + std::string(token.substr(0, 64)) + at(offset) +
                                          " does not fit in 64 bits");
}

}  // namespace

void scanInput(std::string_view text, const ScanLimits& limits) {
    std::vector<bool> inObject;  // one per open container: true for an object
    bool expectKey = false;      // the next string of the current object is a key
    std::size_t values = 0;
    const auto countValue = [&](std::size_t offset) {
        if (++values > limits.maxValues)
            refuse("too_many_values", "JSON holds more than " + std::to_string(limits.maxValues) +
                                          " values (the limit was reached" + at(offset) + ")");
    };

    const char* const begin = text.data();
    const char* const end = begin + text.size();
    bool inString = false;
    for (const char* p = begin; p != end;) {
        const std::size_t offset = static_cast<std::size_t>(p - begin);
        const char c = *p;
        if (c == '\0') refuse("parse_error", "Not JSON: NUL byte" + at(offset));
        if (static_cast<unsigned char>(c) >= 0x80) {
            const auto point = Utf8::decode(p, end);
            if (point == boost::locale::utf::illegal || point == boost::locale::utf::incomplete)
                refuse("parse_error", "Not JSON: invalid UTF-8" + at(offset));
            continue;  // never structural
        }
        ++p;
        if (inString) {
            if (c == '\\' && p != end && *p != '\0' && static_cast<unsigned char>(*p) < 0x80)
                ++p;  // the escaped character cannot end the string
            else if (c == '"')
                inString = false;
            continue;
        }
        switch (c) {
            case '"':
                inString = true;
                if (!expectKey) countValue(offset);
                expectKey = false;
                break;
            case '[':
            case '{':
                countValue(offset);
                if (inObject.size() == limits.maxDepth)
                    refuse("too_deep", "JSON nested deeper than " +
                                           std::to_string(limits.maxDepth) + " levels" +
                                           at(offset));
                inObject.push_back(c == '{');
                expectKey = c == '{';
                break;
            case ']':
            case '}':
                if (!inObject.empty()) inObject.pop_back();
                expectKey = false;
                break;
            case ',':
                expectKey = !inObject.empty() && inObject.back();
                break;
            default:
                if (c == '-' || (c >= '0' && c <= '9')) {
                    const char* last = p;
                    while (last != end && isNumberChar(*last)) ++last;
                    countValue(offset);
                    checkInteger(std::string_view(p - 1, static_cast<std::size_t>(last - p + 1)),
                                 offset);
                    p = last;
                } else if (c >= 'a' && c <= 'z') {
                    countValue(offset);  // true, false, null (or a typo the parser names)
                    while (p != end && *p >= 'a' && *p <= 'z') ++p;
                }
                break;
        }
    }
}

}  // namespace connectorhost
