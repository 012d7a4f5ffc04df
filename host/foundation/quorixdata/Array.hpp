// foundation::quorixdata::Array: the engine's value-semantic data array, the form in which
// clients outside the engine exchange numbers. This engine only carries such arrays (see
// cmddistributor::EDIDataWrapper); it never evaluates with them. A plain value type.
#pragma once

#include <vector>

namespace foundation::quorixdata {

class Array {
  public:
    Array() = default;
    explicit Array(std::vector<double> values) : values_(std::move(values)) {}

    [[nodiscard]] const std::vector<double>& getValues() const noexcept { return values_; }

  private:
    std::vector<double> values_;
};

}  // namespace foundation::quorixdata
