// connectorhost::scanInput: one pass over an input before any JSON parser sees it, refusing what
// the parser would choke on, misreport or silently change, with the byte offset (from 0) where
// it was found:
//
//   what                                              kind                 text
//   - a NUL byte                                      parse_error          "Not JSON: NUL byte
//                                                                          at byte N"
//   - bytes that are not UTF-8                        parse_error          "Not JSON: invalid
//                                                                          UTF-8 at byte N"
//   - objects and arrays nested deeper than maxDepth  too_deep
//   - more than maxValues values (keys not counted)   too_many_values
//   - an integer outside the 64-bit range (which the  number_out_of_range
//     parser would wrap)
//
// It does not check the grammar: malformed JSON passes the scan and the parser refuses it.
// Errors: RequestError with the kind above. Threads: a pure function.
#pragma once

#include <cstddef>
#include <string_view>

namespace connectorhost {

struct ScanLimits {
    std::size_t maxDepth;
    std::size_t maxValues;
};

void scanInput(std::string_view text, const ScanLimits& limits);

}  // namespace connectorhost
