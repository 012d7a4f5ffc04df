// cmddistributor::detail::FEvalOpaqueInputData<In>: the inputs of an evaluation, kept inside its
// payload until the engine asks for them. Every specialisation offers
//
//   std::vector<matrix::qxArray*> makeArrays() const;  // one new input array per argument
//
// The arrays are the caller's, to destroy with nullSafeQxVecDestroy (ArrayTransport.hpp): the
// list is what the engine consumes, so it is made once rather than converted from owning
// pointers. A specialisation that fails part-way destroys what it made and raises.
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
    [[nodiscard]] std::vector<matrix::qxArray*> makeArrays() const { return {}; }
};

}  // namespace cmddistributor::detail
