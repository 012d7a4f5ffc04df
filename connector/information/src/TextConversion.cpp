#include "TextConversion.hpp"

#include "host/i18n/Converters.hpp"

namespace connector::information::v1 {

namespace {
const std::string WIRE_ENCODING = "UTF-8";
constexpr bool STRICT = true;
}  // namespace

std::string toUtf8(const std::u16string& text) {
    return fl::i18n::to_string(text, fl::i18n::codecvt_ustring_to_string(WIRE_ENCODING, STRICT));
}

std::u16string toUtf16(const std::string& text) {
    return fl::i18n::to_ustring(text, fl::i18n::codecvt_string_to_ustring(WIRE_ENCODING, STRICT));
}

}  // namespace connector::information::v1
