// cmddistributor::IDType: the identity of one request. A default-constructed IDType is new and
// differs from every other made in the process (a process-wide atomic counter); copies compare
// equal. Cheap to copy, safe to make on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "host/Export.hpp"

namespace cmddistributor {

class QUORIX_HOST_API IDType {
  public:
    IDType();

    [[nodiscard]] std::uint64_t getValue() const noexcept { return value_; }
    friend bool operator==(const IDType& a, const IDType& b) noexcept {
        return a.value_ == b.value_;
    }
    friend bool operator!=(const IDType& a, const IDType& b) noexcept { return !(a == b); }

  private:
    std::uint64_t value_;
};

}  // namespace cmddistributor

template <>
struct std::hash<cmddistributor::IDType> {
    std::size_t operator()(const cmddistributor::IDType& id) const noexcept {
        return std::hash<std::uint64_t>()(id.getValue());
    }
};
