// fl::i18n: the host's text converters between UTF-16 (std::u16string, the host's text) and
// byte strings in a named encoding. Only "UTF-8" is supported (the name compared ignoring case,
// with or without the dash).
//
// A converter is cheap, immutable and safe to share between threads. Strict converters (the
// boolean option true) reject invalid input with fl::i18n::conversion_error naming the offset of
// the first bad unit; lenient ones skip invalid sequences. Nothing is hand-decoded: Boost.Locale's
// UTF codecs do the work.
#pragma once

#include <stdexcept>
#include <string>

namespace fl::i18n {

// conversion_error: the input was not valid in its encoding (strict converters only).
class conversion_error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// codecvt_ustring_to_string: UTF-16 to bytes in `encoding`.
class codecvt_ustring_to_string {
  public:
    // Throws std::invalid_argument for an encoding other than UTF-8.
    codecvt_ustring_to_string(const std::string& encoding, bool strict);
    std::string convert(const std::u16string& text) const;

  private:
    bool strict_;
};

// codecvt_string_to_ustring: bytes in `encoding` to UTF-16.
class codecvt_string_to_ustring {
  public:
    // Throws std::invalid_argument for an encoding other than UTF-8.
    codecvt_string_to_ustring(const std::string& encoding, bool strict);
    std::u16string convert(const std::string& text) const;

  private:
    bool strict_;
};

std::string to_string(const std::u16string& text, const codecvt_ustring_to_string& converter);
std::u16string to_ustring(const std::string& text, const codecvt_string_to_ustring& converter);

}  // namespace fl::i18n
