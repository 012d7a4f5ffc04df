#include "TextConversion.hpp"

#include "host/i18n/Converters.hpp"

namespace connector::information::v1 {

namespace {
const std::string kWireEncoding = "UTF-8";
constexpr bool kStrict = true;
}  // namespace

std::string toUtf8(const std::u16string& text) {
    return fl::i18n::to_string(text, fl::i18n::codecvt_ustring_to_string(kWireEncoding, kStrict));
}

std::u16string toUtf16(const std::string& text) {
    return fl::i18n::to_ustring(text, fl::i18n::codecvt_string_to_ustring(kWireEncoding, kStrict));
}

}  // namespace connector::information::v1
