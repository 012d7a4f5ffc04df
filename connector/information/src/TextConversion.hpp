// toUtf8 / toUtf16: the conversions between the host's UTF-16 text and the UTF-8 of the wire,
// through the host's strict i18n converters (a converter is made per call and discarded).
// Errors: invalid input raises fl::i18n::conversion_error naming the offset of the first bad unit.
// Threads: stateless; safe from any thread.
#pragma once

#include <string>

namespace connector::information::v1 {

[[nodiscard]] std::string toUtf8(const std::u16string& text);
[[nodiscard]] std::u16string toUtf16(const std::string& text);

}  // namespace connector::information::v1
