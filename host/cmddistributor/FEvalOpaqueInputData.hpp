// cmddistributor::detail::FEvalOpaqueInputData<In>: the inputs of an evaluation, kept inside its
// payload until the engine asks for them. Every specialisation offers
//
//   std::vector<matrix::UniqueArray> makeArrays() const;  // one new input array per argument
//
// The engine provides the specialisation for no input (In = void); callers provide their own
// for the argument shapes they pass.
#pragma once

#include <vector>

#include "host/matrix/Array.hpp"

namespace cmddistributor::detail {

template <class In>
class FEvalOpaqueInputData;

template <>
class FEvalOpaqueInputData<void> {
  public:
    [[nodiscard]] std::vector<matrix::UniqueArray> makeArrays() const { return {}; }
};

}  // namespace cmddistributor::detail
