// fuzz_utf: the conversions between the wire's UTF-8 and the host's UTF-16 on arbitrary input.
//
// The input is taken twice: as UTF-8 bytes, and as UTF-16 code units (little-endian byte
// pairs). A reference check written from the Unicode well-formedness tables decides, for each,
// whether it is valid and where the first bad sequence starts. Properties checked:
//   - valid input converts (toUtf16 / toUtf8) and converts back to exactly the input;
//   - invalid input raises fl::i18n::conversion_error and nothing else, and its text names the
//     offset where the first bad sequence starts;
//   - the lenient converters (strict = false) never fail, always give valid text, and give
//     the same as the strict ones for valid input.
#include <cstdint>
#include <string>

#include "connector/information/src/TextConversion.hpp"
#include "fuzz/FuzzSupport.hpp"
#include "host/i18n/Converters.hpp"

namespace {

using connector::information::v1::toUtf16;
using connector::information::v1::toUtf8;
using fuzzsupport::finding;
using fuzzsupport::printable;
using fuzzsupport::require;

// firstBadUtf8: the offset of the first byte that does not start a well-formed UTF-8 sequence,
// or the size when every sequence is well formed. Well formed, by first byte:
//   00..7F alone; C2..DF + 80..BF; E0 + A0..BF + 80..BF; E1..EC, EE..EF + 80..BF x2;
//   ED + 80..9F + 80..BF; F0 + 90..BF + 80..BF x2; F1..F3 + 80..BF x3; F4 + 80..8F + 80..BF x2.
std::size_t firstBadUtf8(const std::string& text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned lead = byte(i);
        std::size_t length = 0;
        unsigned low = 0x80, high = 0xBF;  // the allowed range of the second byte
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return i;
        }
        if (i + length > text.size()) return i;
        if (byte(i + 1) < low || byte(i + 1) > high) return i;
        for (std::size_t k = 2; k < length; ++k)
            if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return i;
        i += length;
    }
    return text.size();
}

// firstBadUtf16: the index of the first unpaired surrogate, or the size.
std::size_t firstBadUtf16(const std::u16string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
                ++i;
                continue;
            }
            return i;
        }
        if (unit >= 0xDC00 && unit <= 0xDFFF) return i;
    }
    return text.size();
}

void checkUtf8(const std::string& bytes) {
    const std::size_t bad = firstBadUtf8(bytes);
    const std::string what = "\n  input: " + printable(bytes);
    if (bad == bytes.size()) {
        std::u16string units;
        try {
            units = toUtf16(bytes);
        } catch (const std::exception& error) {
            finding(std::string("valid UTF-8 refused: ") + error.what() + what);
        }
        require(firstBadUtf16(units) == units.size(), "valid UTF-8 gave invalid UTF-16" + what);
        std::string back;
        try {
            back = toUtf8(units);
        } catch (const std::exception& error) {
            finding(std::string("UTF-16 made from UTF-8 refused: ") + error.what() + what);
        }
        require(back == bytes, "UTF-8 -> UTF-16 -> UTF-8 changed the text" + what +
                                   "\n  back:  " + printable(back));
    } else {
        try {
            (void)toUtf16(bytes);
            finding("invalid UTF-8 (first bad byte " + std::to_string(bad) + ") accepted" + what);
        } catch (const fl::i18n::conversion_error& error) {
            const std::string expected = "Invalid UTF-8 text: bad byte sequence at byte " +
                                         std::to_string(bad) + " of " +
                                         std::to_string(bytes.size());
            require(error.what() == expected, std::string("unclear error: ") + error.what() +
                                                  ", expected " + expected + what);
        }
    }

    // Lenient: never fails, gives valid text; the strict result for valid input.
    const fl::i18n::codecvt_string_to_ustring lenient("UTF-8", false);
    const std::u16string skipped = fl::i18n::to_ustring(bytes, lenient);
    require(firstBadUtf16(skipped) == skipped.size(), "lenient UTF-8 gave invalid UTF-16" + what);
    if (bad == bytes.size())
        require(skipped == toUtf16(bytes), "lenient and strict UTF-8 conversions differ" + what);
}

void checkUtf16(const std::u16string& units) {
    const std::size_t bad = firstBadUtf16(units);
    const std::string what = "\n  input: " + printable(units);
    if (bad == units.size()) {
        std::string bytes;
        try {
            bytes = toUtf8(units);
        } catch (const std::exception& error) {
            finding(std::string("valid UTF-16 refused: ") + error.what() + what);
        }
        require(firstBadUtf8(bytes) == bytes.size(), "valid UTF-16 gave invalid UTF-8" + what);
        std::u16string back;
        try {
            back = toUtf16(bytes);
        } catch (const std::exception& error) {
            finding(std::string("UTF-8 made from UTF-16 refused: ") + error.what() + what);
        }
        require(back == units, "UTF-16 -> UTF-8 -> UTF-16 changed the text" + what +
                                   "\n  back:  " + printable(back));
    } else {
        try {
            (void)toUtf8(units);
            finding("invalid UTF-16 (first bad unit " + std::to_string(bad) + ") accepted" + what);
        } catch (const fl::i18n::conversion_error& error) {
            const std::string expected = "Invalid UTF-16 text: unpaired surrogate at code unit " +
                                         std::to_string(bad) + " of " +
                                         std::to_string(units.size());
            require(error.what() == expected, std::string("unclear error: ") + error.what() +
                                                  ", expected " + expected + what);
        }
    }

    const fl::i18n::codecvt_ustring_to_string lenient("UTF-8", false);
    const std::string skipped = fl::i18n::to_string(units, lenient);
    require(firstBadUtf8(skipped) == skipped.size(), "lenient UTF-16 gave invalid UTF-8" + what);
    if (bad == units.size())
        require(skipped == toUtf8(units), "lenient and strict UTF-16 conversions differ" + what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkUtf8(std::string(reinterpret_cast<const char*>(data), size));
    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    checkUtf16(units);
    return 0;
}
