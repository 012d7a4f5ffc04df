#include "tools/connector-host/core/InputScan.hpp"

#include <boost/locale/utf.hpp>
#include <charconv>
#include <cstdint>
#include <vector>

#include "tools/connector-host/core/ErrorKind.hpp"

namespace connectorhost {
namespace {

using Utf8 = boost::locale::utf::utf_traits<char>;

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
        throw RequestError(ErrorKind::NumberOutOfRange,
                           "Integer " + std::string(token.substr(0, 64)) + at(offset) +
                               " does not fit in 64 bits");
}

// One pass over the text: strings are skipped (their bytes are never structural), values are
// counted where they start, containers tracked for depth and for which strings are keys.
class Scanner {
  public:
    Scanner(std::string_view text, const ScanLimits& limits)
        : begin(text.data()), end(text.data() + text.size()), limits(limits) {}

    void run() {
        for (const char* p = begin; p != end;) p = step(p);
    }

  private:
    std::size_t offsetOf(const char* p) const { return static_cast<std::size_t>(p - begin); }

    void countValue(const char* p) {
        if (++values > limits.maxValues)
            throw RequestError(ErrorKind::TooManyValues,
                               "JSON holds more than " + std::to_string(limits.maxValues) +
                                   " values (the limit was reached" + at(offsetOf(p)) + ")");
    }

    // step: reads what starts at p; gives where the next step starts.
    const char* step(const char* p) {
        const char c = *p;
        if (c == '\0')
            throw RequestError(ErrorKind::ParseError, "Not JSON: NUL byte" + at(offsetOf(p)));
        if (static_cast<unsigned char>(c) >= 0x80) return skipMultibyte(p);
        if (inString) return stringByte(p);
        switch (c) {
            case '"':
                inString = true;
                if (!expectKey) countValue(p);
                expectKey = false;
                return p + 1;
            case '[':
            case '{':
                return open(p);
            case ']':
            case '}':
                if (!inObject.empty()) inObject.pop_back();
                expectKey = false;
                return p + 1;
            case ',':
                expectKey = !inObject.empty() && inObject.back();
                return p + 1;
            default:
                return scalar(p);
        }
    }

    const char* skipMultibyte(const char* p) {
        const char* next = p;
        const auto point = Utf8::decode(next, end);
        if (point == boost::locale::utf::illegal || point == boost::locale::utf::incomplete)
            throw RequestError(ErrorKind::ParseError, "Not JSON: invalid UTF-8" + at(offsetOf(p)));
        return next;
    }

    const char* stringByte(const char* p) {
        const char c = *p++;
        if (c == '\\' && p != end && *p != '\0' && static_cast<unsigned char>(*p) < 0x80)
            return p + 1;  // the escaped character cannot end the string
        if (c == '"') inString = false;
        return p;
    }

    const char* open(const char* p) {
        countValue(p);
        if (inObject.size() == limits.maxDepth)
            throw RequestError(ErrorKind::TooDeep, "JSON nested deeper than " +
                                                       std::to_string(limits.maxDepth) + " levels" +
                                                       at(offsetOf(p)));
        inObject.push_back(*p == '{');
        expectKey = *p == '{';
        return p + 1;
    }

    // A number, or true, false, null (or a typo that the parser names); anything else is skipped.
    const char* scalar(const char* p) {
        const char c = *p;
        const char* last = p + 1;
        if (c == '-' || (c >= '0' && c <= '9')) {
            while (last != end && isNumberChar(*last)) ++last;
            countValue(p);
            checkInteger(std::string_view(p, static_cast<std::size_t>(last - p)), offsetOf(p));
        } else if (c >= 'a' && c <= 'z') {
            countValue(p);
            while (last != end && *last >= 'a' && *last <= 'z') ++last;
        }
        return last;
    }

    const char* const begin;
    const char* const end;
    const ScanLimits& limits;
    std::vector<bool> inObject;  // one per open container: true for an object
    bool expectKey = false;      // the next string of the current object is a key
    bool inString = false;
    std::size_t values = 0;
};

}  // namespace

void scanInput(std::string_view text, const ScanLimits& limits) {
    Scanner(text, limits).run();
}

}  // namespace connectorhost
