#include "host/cmddistributor/FEvalResult.hpp"

namespace cmddistributor {

IIPResult::~IIPResult() = default;

FEvalResult::FEvalResult(Results results, inExecutionStatus status)
    : results_(std::move(results)), status_(status) {}

FEvalResult::~FEvalResult() = default;

std::unique_ptr<FEvalResult> FEvalResult::makeTyped(boost::any value) {
    return std::make_unique<FEvalResult>(
        Results(std::in_place_index<TYPED_VALUE>, std::move(value)));
}

std::unique_ptr<FEvalResult> FEvalResult::makeSerialized(detail::SerializedArrays arrays) {
    return std::make_unique<FEvalResult>(
        Results(std::in_place_index<SERIALIZED_ARRAYS>, std::move(arrays)));
}

std::unique_ptr<FEvalResult> FEvalResult::makeDataArrays(EDIDataWrapper arrays) {
    return std::make_unique<FEvalResult>(
        Results(std::in_place_index<DATA_ARRAYS>, std::move(arrays)));
}

}  // namespace cmddistributor
