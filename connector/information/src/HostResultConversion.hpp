// Conversions between host arrays and the native values of host evaluations.
//
// Out of the engine, for Out = std::string (UTF-8), std::u16string (UTF-16) and
// std::vector<QuorixProduct>:
//
//   convertResult<Out>(result)  the value of a finished evaluation. `result` must be a
//                               cmddistributor::FEvalResult (std::bad_cast otherwise); its results
//                               are read under its mutex and, once converted, replaced by the
//                               moved-from marker, so the value can be taken only once.
//   fromQxArrays<Out>(arrays)   the value from the output arrays, which stay the caller's. Only
//                               the first array is read; a one-element cell array stands for its
//                               element.
//
// Errors, all raised out of the conversion with the results left as they were:
//
//   typed value of another type   boost::bad_any_cast
//   results hold data arrays      std::runtime_error "Not implemented"
//   results already converted     std::logic_error "Cannot use FEvalResult results after move."
//   no output array               the host's error (verifyMinimumOutputSize)
//   first array null              std::runtime_error "feval returned null."
//   text from a non-char array    the host's error (verifyQxArrayTypeAndSize)
//   products from another class   std::runtime_error "qxArray is not a struct"
//   product without "Name"        std::runtime_error "qxArray does not have a field named Name"
//
// An empty first array of any class gives an empty product list.
//
// Into the engine: makeInputArray turns one text argument into a char array.
//
// Threads: conversions of different results may run at once; serialized arrays are converted
// under the host lock (LockBFLHelper).
#pragma once

#include <string>
#include <vector>

#include "connector/information/v1/QuorixProduct.hpp"
#include "host/cmddistributor/IIPResult.hpp"
#include "host/matrix/Array.hpp"

namespace connector::information::v1 {

template <class Out>
Out convertResult(cmddistributor::IIPResult& result);
template <>
std::string convertResult<std::string>(cmddistributor::IIPResult& result);
template <>
std::u16string convertResult<std::u16string>(cmddistributor::IIPResult& result);
template <>
std::vector<QuorixProduct> convertResult<std::vector<QuorixProduct>>(
    cmddistributor::IIPResult& result);

template <class Out>
Out fromQxArrays(const std::vector<matrix::qxArray*>& arrays);
template <>
std::string fromQxArrays<std::string>(const std::vector<matrix::qxArray*>& arrays);
template <>
std::u16string fromQxArrays<std::u16string>(const std::vector<matrix::qxArray*>& arrays);
template <>
std::vector<QuorixProduct> fromQxArrays<std::vector<QuorixProduct>>(
    const std::vector<matrix::qxArray*>& arrays);

namespace detail {

// raiseRuntimeError / raiseLogicError: raise a std::runtime_error / std::logic_error with `text`,
// through boost::throw_exception, so that a promise can carry it to the waiting thread.
[[noreturn]] void raiseRuntimeError(const std::string& text);
[[noreturn]] void raiseLogicError(const std::string& text);

}  // namespace detail

// makeInputArray: a char array of `text` up to its first zero byte; null is taken as "". Errors
// of the array library (invalid UTF-8) pass on.
[[nodiscard]] matrix::UniqueArray makeInputArray(const char* text);

}  // namespace connector::information::v1
