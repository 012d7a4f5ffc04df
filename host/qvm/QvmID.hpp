// qvm::QvmID: names one engine instance among several in a process; UndefinedQvmID lets the
// distributor choose.
#pragma once

#include <cstdint>
#include <limits>

namespace qvm {

using QvmID = std::uint64_t;
inline constexpr QvmID UndefinedQvmID = std::numeric_limits<QvmID>::max();

}  // namespace qvm
