#include <boost/locale/encoding_utf.hpp>
#include <boost/locale/utf.hpp>

#include "host/i18n/Converters.hpp"

namespace fl::i18n {
namespace {

namespace conv = boost::locale::conv;
namespace utf = boost::locale::utf;

void requireUtf8(const std::string& encoding) {
    std::string name;
    for (char c : encoding) {
        if (c != '-' && c != '_')
            name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (name != "UTF8") throw std::invalid_argument("Unsupported encoding: " + encoding);
}

// Index of the first unit of `text` that does not start a valid sequence.
template <class Char>
std::size_t firstInvalidUnit(const std::basic_string<Char>& text) {
    const Char* begin = text.data();
    const Char* end = begin + text.size();
    for (const Char* at = begin; at != end;) {
        const Char* start = at;
        const utf::code_point decoded = utf::utf_traits<Char>::decode(at, end);
        if (decoded == utf::illegal || decoded == utf::incomplete)
            return static_cast<std::size_t>(start - begin);
    }
    return text.size();
}

}  // namespace

codecvt_ustring_to_string::codecvt_ustring_to_string(const std::string& encoding, bool strict)
    : strict_(strict) {
    requireUtf8(encoding);
}

std::string codecvt_ustring_to_string::convert(const std::u16string& text) const {
    try {
        return conv::utf_to_utf<char>(text.data(), text.data() + text.size(),
                                      strict_ ? conv::stop : conv::skip);
    } catch (const conv::conversion_error&) {
        throw conversion_error("Invalid UTF-16 text: unpaired surrogate at code unit " +
                               std::to_string(firstInvalidUnit(text)) + " of " +
                               std::to_string(text.size()));
    }
}

codecvt_string_to_ustring::codecvt_string_to_ustring(const std::string& encoding, bool strict)
    : strict_(strict) {
    requireUtf8(encoding);
}

std::u16string codecvt_string_to_ustring::convert(const std::string& text) const {
    try {
        return conv::utf_to_utf<char16_t>(text.data(), text.data() + text.size(),
                                          strict_ ? conv::stop : conv::skip);
    } catch (const conv::conversion_error&) {
        throw conversion_error("Invalid UTF-8 text: bad byte sequence at byte " +
                               std::to_string(firstInvalidUnit(text)) + " of " +
                               std::to_string(text.size()));
    }
}

std::string to_string(const std::u16string& text, const codecvt_ustring_to_string& converter) {
    return converter.convert(text);
}

std::u16string to_ustring(const std::string& text, const codecvt_string_to_ustring& converter) {
    return converter.convert(text);
}

}  // namespace fl::i18n
