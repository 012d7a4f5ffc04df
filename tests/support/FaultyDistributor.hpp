// FaultyDistributor: the engine's command distributor, except for the next request after
// arm(fault), which meets that fault.
#pragma once

#include <atomic>
#include <boost/shared_ptr.hpp>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "HostEngine.hpp"
#include "host/cmddistributor/CmdDistributor.hpp"
#include "host/cmddistributor/PromiseDelegate.hpp"

namespace testsupport {

enum class Fault {
    None,
    ThrowOnTrack,   // trackRequest raises "distributor cannot track"
    ThrowOnSubmit,  // submitRequest raises "distributor is stopping", after tracking
    NeverComplete,  // kept, never run, until cancelRequest; then completed as interrupted
                    // (cancelAll, as the engine's invalidation calls it, does not reach it)
    DropDelegate,   // destroyed without completion
};

class FaultyDistributor final : public cmddistributor::CmdDistributor {
  public:
    explicit FaultyDistributor(boost::shared_ptr<qvm::FunctionRegistry> functions)
        : CmdDistributor(std::move(functions)) {}

    void arm(Fault fault) { armed_ = fault; }

    // waitUntilWaitedOn: until a thread has begun to wait on the future of a NeverComplete
    // request (every wait, each slice of a timed wait too, first runs the wait callback).
    void waitUntilWaitedOn() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return waitedOn_; });
    }

    RequestTrackingPtr trackRequest(const boost::shared_ptr<cmddistributor::CmdRequest>& request,
                                    std::unique_ptr<cmddistributor::PromiseDelegate> delegate,
                                    const cmddistributor::RunOptions& options,
                                    const cmddistributor::IDType& id, bool trackById,
                                    std::function<void()> onFinished) override {
        fault_ = armed_.exchange(Fault::None);
        if (fault_ == Fault::ThrowOnTrack) throw std::runtime_error("distributor cannot track");
        return CmdDistributor::trackRequest(request, std::move(delegate), options, id, trackById,
                                            std::move(onFinished));
    }

    void submitRequest(const RequestTrackingPtr& handle, const cmddistributor::IDType& id,
                       cmddistributor::RunOptions options, bool runOnCallingThread) override {
        if (fault_ == Fault::None)
            return CmdDistributor::submitRequest(handle, id, std::move(options),
                                                 runOnCallingThread);
        if (fault_ == Fault::ThrowOnSubmit) throw std::runtime_error("distributor is stopping");
        std::unique_ptr<cmddistributor::PromiseDelegate> delegate = handle->releaseDelegate();
        if (fault_ != Fault::NeverComplete) return;  // DropDelegate: destroyed here
        delegate->setWaitCallback([this] {
            std::lock_guard<std::mutex> lock(mutex_);
            waitedOn_ = true;
            changed_.notify_all();
        });
        std::lock_guard<std::mutex> lock(mutex_);
        kept_ = std::move(delegate);
        keptId_ = id.getValue();
    }

    // cancelRequest: completes a kept request as interrupted; counts every call.
    bool cancelRequest(const cmddistributor::IDType& id) override {
        ++cancelRequests;
        std::unique_ptr<cmddistributor::PromiseDelegate> kept;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!kept_ || id.getValue() != keptId_) return CmdDistributor::cancelRequest(id);
            kept = std::move(kept_);
        }
        (void)kept->markReady();
        kept->completeWithError(
            hostError(cmddistributor::inExecutionStatus::Interrupted, "evaluation cancelled"));
        return true;
    }

    std::atomic<int> cancelRequests{0};

  private:
    std::atomic<Fault> armed_{Fault::None};
    Fault fault_ = Fault::None;  // of the request being tracked and submitted (one at a time)
    std::mutex mutex_;
    std::condition_variable changed_;
    std::unique_ptr<cmddistributor::PromiseDelegate> kept_;
    std::uint64_t keptId_ = 0;
    bool waitedOn_ = false;  // the kept request's future has been waited on
};

}  // namespace testsupport
