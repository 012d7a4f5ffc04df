// The runs of the engine stand-in's distributor: who starts a request (the worker or a thread
// that waits for it), the run itself, and what follows it.
#include <algorithm>
#include <mutex>
#include <utility>

#include "DistributorWorker.hpp"
#include "FEvalRun.hpp"
#include "TrackedRequest.hpp"
#include "host/cmddistributor/CmdDistributor.hpp"
#include "host/cmddistributor/PromiseDelegate.hpp"

namespace cmddistributor {

namespace {

void markReadyQuietly(PromiseDelegate& delegate) noexcept {
    try {
        (void)delegate.markReady();
    } catch (...) {
        // markReady rethrows a held-back error that is not a RuntimeException once it has
        // delivered it; the caller has it already.
    }
}

void completeQuietly(PromiseDelegate& delegate, detail::Outcome outcome) noexcept {
    try {
        if (auto* result = std::get_if<std::unique_ptr<IIPResult>>(&outcome))
            (void)delegate.completeWithResult(std::move(*result));
        else
            (void)delegate.completeWithError(std::get<boost::exception_ptr>(outcome));
    } catch (...) {
        // Only a delegate completed twice raises here, and nobody is left to tell.
    }
}

}  // namespace

// claimAndRun: runs the request on this thread unless another thread has started it, waiting for
// the engine if it is busy (the worker, and a caller that asked to run on its own thread).
void CmdDistributor::claimAndRun(const std::shared_ptr<detail::TrackedRequest>& entry) noexcept {
    if (entry->claimed.exchange(true, std::memory_order_acq_rel)) return;  // a waiter ran it
    {
        std::lock_guard<std::recursive_mutex> engine(gate_->engine);
        runDelegate(*entry);
    }
    finish(entry);
}

void CmdDistributor::runForWaiter(const std::shared_ptr<detail::RunGate>& gate,
                                  CmdDistributor* distributor,
                                  const std::weak_ptr<detail::TrackedRequest>& weak) noexcept {
    // Every wait on the future comes here first, the slices of a timed wait included: what is
    // started, finished or gone costs one atomic load.
    const std::shared_ptr<detail::TrackedRequest> entry = weak.lock();
    if (!entry || entry->claimed.load(std::memory_order_acquire)) return;
    if (!gate->enter()) return;  // the distributor is closing: its worker runs the rest
    struct Leave {
        detail::RunGate& gate;
        ~Leave() { gate.leave(); }
    } leave{*gate};
    // A busy engine is not waited for here: the worker gets the request at once, to run it as
    // soon as the engine is free, and the thread goes back to its timed wait (it tries again on
    // its next slice, should the request still not have started).
    std::unique_lock<std::recursive_mutex> engine(gate->engine, std::try_to_lock);
    if (!engine.owns_lock()) {
        if (!entry->posted.load(std::memory_order_relaxed)) {
            try {
                distributor->worker_->post(*distributor, entry);
            } catch (...) {
                // Out of memory: the worker still starts it with the others, startDelay later.
            }
        }
        return;
    }
    if (entry->claimed.exchange(true, std::memory_order_acq_rel)) return;
    const std::shared_ptr<detail::TrackedRequest> withdrawn =
        distributor->worker_->withdraw(*entry);
    distributor->runDelegate(*entry);
    engine.unlock();
    distributor->finish(entry);
}

void CmdDistributor::runDelegate(detail::TrackedRequest& entry) noexcept {
    std::unique_ptr<PromiseDelegate> delegate;
    RunOptions runOptions;
    {
        std::lock_guard<std::mutex> lock(entry.mutex);
        delegate = std::move(entry.delegate);
        runOptions = std::move(entry.options);  // a request runs once
    }
    if (!delegate) return;
    const bool readyFirst = options_.order == CompletionOrder::ReadyThenComplete;
    if (readyFirst) markReadyQuietly(*delegate);
    detail::Outcome outcome = [&]() -> detail::Outcome {
        try {
            return detail::evaluate(*functions_, options_, *entry.request, entry.cancellation,
                                    runOptions);
        } catch (...) {
            return boost::current_exception();  // out of memory while reporting an error
        }
    }();
    completeQuietly(*delegate, std::move(outcome));
    if (!readyFirst) markReadyQuietly(*delegate);
}

void CmdDistributor::finish(const std::shared_ptr<detail::TrackedRequest>& entry) noexcept {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found =
            std::find_if(live_.begin(), live_.end(), [&](const LiveRequest& request) {
                return request.id == entry->id && !request.entry.owner_before(entry) &&
                       !entry.owner_before(request.entry);
            });
        if (found != live_.end()) {
            *found = std::move(live_.back());
            live_.pop_back();
        }
    }
    std::vector<std::function<void()>> continuations;
    std::function<void()> onFinished;
    {
        std::lock_guard<std::mutex> lock(entry->mutex);
        entry->finished = true;
        continuations.swap(entry->continuations);
        onFinished = std::move(entry->onFinished);
    }
    detail::runQuietly(onFinished);
    for (const auto& continuation : continuations) detail::runQuietly(continuation);
}

}  // namespace cmddistributor
