// cmddistributor::EDIDataWrapper: a list of host data arrays standing in for host arrays, the
// form in which a run's inputs or outputs travel when a payload prefers data arrays. A plain
// value type.
#pragma once

#include <utility>
#include <vector>

#include "host/foundation/quorixdata/Array.hpp"

namespace cmddistributor {

class EDIDataWrapper {
  public:
    EDIDataWrapper() = default;
    explicit EDIDataWrapper(std::vector<foundation::quorixdata::Array> arrays)
        : arrays_(std::move(arrays)) {}

    [[nodiscard]] const std::vector<foundation::quorixdata::Array>& getArrays() const noexcept {
        return arrays_;
    }

  private:
    std::vector<foundation::quorixdata::Array> arrays_;
};

}  // namespace cmddistributor
