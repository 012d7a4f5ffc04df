// cmddistributor::FEvalResult: the outcome of a function evaluation. Its results are one of:
//
//   index | alternative        | meaning
//   ------+--------------------+--------------------------------------------------------------
//     0   | boost::any         | a typed value, made by the request's payload itself
//     1   | SerializedArrays   | the output arrays, as serializeQxArrays made them
//     2   | EDIDataWrapper     | the outputs as host data arrays
//     3   | MovedFromResults   | the results were taken by a conversion; nothing is left
//
// Threads: the results may be read and replaced by another thread than the one that made the
// result; whoever does so holds getMutex() for as long as it uses getResults().
#pragma once

#include <boost/any.hpp>
#include <memory>
#include <mutex>
#include <variant>

#include "host/Export.hpp"
#include "host/cmddistributor/ArrayTransport.hpp"
#include "host/cmddistributor/EDIDataWrapper.hpp"
#include "host/cmddistributor/IIPResult.hpp"

namespace cmddistributor {

struct MovedFromResults {};

class QUORIX_HOST_API FEvalResult final : public IIPResult {
  public:
    using Results =
        std::variant<boost::any, detail::SerializedArrays, EDIDataWrapper, MovedFromResults>;
    static constexpr std::size_t TYPED_VALUE = 0;
    static constexpr std::size_t SERIALIZED_ARRAYS = 1;
    static constexpr std::size_t DATA_ARRAYS = 2;
    static constexpr std::size_t MOVED_FROM = 3;

    // NOTE: construct Results with std::in_place_index (boost::any would swallow any other
    // alternative), or use the make* helpers.
    explicit FEvalResult(Results results, inExecutionStatus status = inExecutionStatus::Completed);
    ~FEvalResult() override;

    [[nodiscard]] static std::unique_ptr<FEvalResult> makeTyped(boost::any value);
    [[nodiscard]] static std::unique_ptr<FEvalResult> makeSerialized(
        detail::SerializedArrays arrays);
    [[nodiscard]] static std::unique_ptr<FEvalResult> makeDataArrays(EDIDataWrapper arrays);

    [[nodiscard]] inExecutionStatus getExecutionStatus() const noexcept override { return status_; }
    // getMutex: guards getResults(). REQUIRES: held while the results are read or replaced.
    [[nodiscard]] std::mutex& getMutex() const noexcept { return mutex_; }
    [[nodiscard]] Results& getResults() noexcept { return results_; }

  private:
    mutable std::mutex mutex_;
    Results results_;
    inExecutionStatus status_;
};

}  // namespace cmddistributor
