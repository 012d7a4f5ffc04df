// FaultyDistributor: the engine's command distributor, except for the next request after
// arm(fault), which meets that fault. Every delegate handed to it is wrapped in a
// CountingDelegate, so that a test sees whether each one was released.
#pragma once

#include <atomic>
#include <boost/shared_ptr.hpp>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "HostEngine.hpp"
#include "host/cmddistributor/CmdDistributor.hpp"
#include "host/cmddistributor/PromiseDelegate.hpp"

namespace testsupport {

// CountingDelegate: passes everything on to the delegate it wraps; counts the wrappers alive.
class CountingDelegate final : public cmddistributor::PromiseDelegate {
  public:
    explicit CountingDelegate(std::unique_ptr<PromiseDelegate> inner) : inner_(std::move(inner)) {
        ++alive;
    }
    ~CountingDelegate() override { --alive; }

    bool completeWithResult(std::unique_ptr<cmddistributor::IIPResult> result) override {
        return inner_->completeWithResult(std::move(result));
    }
    bool completeWithError(boost::exception_ptr error) override {
        return inner_->completeWithError(std::move(error));
    }
    void setWaitCallback(std::function<void()> callback) override {
        inner_->setWaitCallback(std::move(callback));
    }
    void waitTillReady() override { inner_->waitTillReady(); }
    bool isPromiseDone() const override { return inner_->isPromiseDone(); }
    boost::optional<cmddistributor::inExecutionStatus> markReady() override {
        return inner_->markReady();
    }
    void detach() override { inner_->detach(); }

    static inline std::atomic<int> alive{0};

  private:
    std::unique_ptr<PromiseDelegate> inner_;
};

enum class Fault {
    None,
    ThrowOnTrack,       // trackRequest raises "distributor cannot track"
    ThrowOnSubmit,      // submitRequest raises "distributor is stopping", after tracking
    CompleteWithError,  // marked ready, then completed with "license server unreachable"
    ErrorBeforeReady,   // completed with "engine refused the request", then marked ready
    ResultBeforeReady,  // completed with the text "off", then marked ready
    NeverComplete,      // kept, never run, until cancelRequest; then completed as interrupted
                        // (cancelAll, as the engine's invalidation calls it, does not reach it)
    DropDelegate,       // destroyed without completion
};

class FaultyDistributor final : public cmddistributor::CmdDistributor {
  public:
    using PromiseDelegate = cmddistributor::PromiseDelegate;
    using Status = cmddistributor::inExecutionStatus;

    explicit FaultyDistributor(boost::shared_ptr<qvm::FunctionRegistry> functions)
        : CmdDistributor(std::move(functions)) {}

    void arm(Fault fault) {
        std::lock_guard<std::mutex> lock(mutex_);
        armed_ = fault;
    }

    // waitUntilIdle: until every request run by the worker has finished and released its
    // delegate (the caller's future is fulfilled a moment before that).
    void waitUntilIdle() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return finished_ == run_; });
    }

    // waitUntilKept: until a NeverComplete request has been taken.
    void waitUntilKept() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return kept_ != nullptr; });
    }

    // waitUntilWaitedOn: until a thread has begun to wait on the future of a NeverComplete
    // request (every wait, each slice of a timed wait too, first runs the wait callback).
    void waitUntilWaitedOn() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return waitedOn_; });
    }

    RequestTrackingPtr trackRequest(const boost::shared_ptr<cmddistributor::CmdRequest>& request,
                                    std::unique_ptr<PromiseDelegate> delegate,
                                    const cmddistributor::RunOptions& options,
                                    const cmddistributor::IDType& id, bool trackById,
                                    std::function<void()> onFinished) override {
        auto counted = std::make_unique<CountingDelegate>(std::move(delegate));
        {
            std::lock_guard<std::mutex> lock(mutex_);
            fault_ = std::exchange(armed_, Fault::None);
        }
        if (fault_ == Fault::ThrowOnTrack) throw std::runtime_error("distributor cannot track");
        auto finished = [this, inner = std::move(onFinished)] {
            if (inner) inner();
            std::lock_guard<std::mutex> lock(mutex_);
            ++finished_;
            changed_.notify_all();
        };
        return CmdDistributor::trackRequest(request, std::move(counted), options, id, trackById,
                                            std::move(finished));
    }

    void submitRequest(const RequestTrackingPtr& handle, const cmddistributor::IDType& id,
                       cmddistributor::RunOptions options, bool runOnCallingThread) override {
        if (fault_ == Fault::None) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++run_;
            }
            CmdDistributor::submitRequest(handle, id, std::move(options), runOnCallingThread);
            return;
        }
        if (fault_ == Fault::ThrowOnSubmit) throw std::runtime_error("distributor is stopping");
        std::unique_ptr<PromiseDelegate> delegate = handle->releaseDelegate();
        switch (fault_) {
            case Fault::CompleteWithError:
                (void)delegate->markReady();
                delegate->completeWithError(hostError(Status::Error, "license server unreachable"));
                break;
            case Fault::ErrorBeforeReady:
                delegate->completeWithError(hostError(Status::Error, "engine refused the request"));
                (void)delegate->markReady();
                break;
            case Fault::ResultBeforeReady:
                delegate->completeWithResult(textResult("off"));
                (void)delegate->markReady();
                break;
            case Fault::NeverComplete: {
                delegate->setWaitCallback([this] {
                    std::lock_guard<std::mutex> lock(mutex_);
                    waitedOn_ = true;
                    changed_.notify_all();
                });
                std::lock_guard<std::mutex> lock(mutex_);
                waitedOn_ = false;
                kept_ = std::move(delegate);
                keptId_ = id.getValue();
                changed_.notify_all();
                break;
            }
            default:  // DropDelegate: destroyed here
                break;
        }
    }

    // cancelRequest: completes a kept request as interrupted; counts every call.
    bool cancelRequest(const cmddistributor::IDType& id) override {
        ++cancelRequests;
        std::unique_ptr<PromiseDelegate> kept;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!kept_ || id.getValue() != keptId_) return CmdDistributor::cancelRequest(id);
            kept = std::move(kept_);
        }
        (void)kept->markReady();
        kept->completeWithError(hostError(Status::Interrupted, "evaluation cancelled"));
        return true;
    }

    std::atomic<int> cancelRequests{0};

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    Fault armed_ = Fault::None;
    Fault fault_ = Fault::None;  // of the request being tracked and submitted (one at a time)
    std::unique_ptr<PromiseDelegate> kept_;
    std::uint64_t keptId_ = 0;
    bool waitedOn_ = false;  // the kept request's future has been waited on
    int run_ = 0;            // requests handed to the worker
    int finished_ = 0;       // ... whose run has ended
};

}  // namespace testsupport
