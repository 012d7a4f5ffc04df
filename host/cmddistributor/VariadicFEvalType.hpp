// qxutil::cmddistributor::detail::VariadicFEvalType<T>: one value of T (an input tuple or a
// result) wrapped so that it can travel in a boost::any and be recognised by its exact type.
#pragma once

namespace qxutil::cmddistributor::detail {

template <class T>
struct VariadicFEvalType {
    T value;
};

}  // namespace qxutil::cmddistributor::detail
