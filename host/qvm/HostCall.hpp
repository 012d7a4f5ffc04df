// qvm::HostCall: what a host function sees of the evaluation that called it: its name, the input
// arrays, how many outputs the caller wants, the run's output and error sinks and the task's
// cancellation. Lives for the duration of one call, on the thread that runs it: the engine's
// worker, or a thread that waits for the task.
//
// A function that takes time must look at the cancellation: wait with waitForCancellation rather
// than sleeping, and give up with throwIfCancelled (or any error) once the task is cancelled.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "host/Export.hpp"
#include "host/cmddistributor/RuntimeException.hpp"
#include "host/matrix/Array.hpp"
#include "host/qvm/CancellationToken.hpp"
#include "host/qxutil/io/QXSink.hpp"

namespace qvm {

class QUORIX_HOST_API HostCall {
  public:
    // The name, inputs, sinks and token are borrowed: the engine keeps them for the call.
    HostCall(const std::string& functionName, const std::vector<matrix::qxArray*>& inputs,
             std::size_t outputCount, qxutil::io::QXSink& output, qxutil::io::QXSink& errors,
             const CancellationToken& cancellation);

    [[nodiscard]] const std::string& getFunctionName() const noexcept { return functionName_; }
    // getInputs: borrowed; owned by the engine until the function returns.
    [[nodiscard]] const std::vector<matrix::qxArray*>& getInputs() const noexcept {
        return inputs_;
    }
    [[nodiscard]] std::size_t getOutputCount() const noexcept { return outputCount_; }
    [[nodiscard]] qxutil::io::QXSink& getOutput() const noexcept { return output_; }
    [[nodiscard]] qxutil::io::QXSink& getErrors() const noexcept { return errors_; }

    [[nodiscard]] bool isCancelled() const noexcept { return cancellation_.isSignalled(); }
    // waitForCancellation: waits at most `timeout`; true as soon as the task is cancelled.
    [[nodiscard]] bool waitForCancellation(std::chrono::nanoseconds timeout) const {
        return cancellation_.waitFor(timeout);
    }
    // throwIfCancelled: raises cancelledError(name) once the task is cancelled.
    void throwIfCancelled() const;

    // cancelledError: the error of a run that was cancelled (status Interrupted).
    [[nodiscard]] static cmddistributor::RuntimeException cancelledError(
        const std::string& functionName);

  private:
    const std::string& functionName_;
    const std::vector<matrix::qxArray*>& inputs_;
    std::size_t outputCount_;
    qxutil::io::QXSink& output_;
    qxutil::io::QXSink& errors_;
    const CancellationToken& cancellation_;
};

}  // namespace qvm
