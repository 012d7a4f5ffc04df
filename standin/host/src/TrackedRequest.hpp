// What the distributor keeps of one request (TrackedRequest) and what it shares with the wait
// callbacks it installs (RunGate). Internal to the engine stand-in's distributor.
#pragma once

#include <atomic>
#include <boost/shared_ptr.hpp>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "host/cmddistributor/CmdDistributor.hpp"
#include "host/cmddistributor/CmdRequest.hpp"
#include "host/cmddistributor/IDType.hpp"
#include "host/cmddistributor/PromiseDelegate.hpp"
#include "host/cmddistributor/RunOptions.hpp"
#include "host/qvm/CancellationToken.hpp"

namespace cmddistributor::detail {

// One request from trackRequest until its run has finished. Shared by the caller's handle, the
// queued run and (weakly) the table of live requests.
struct TrackedRequest {
    IDType id;
    boost::shared_ptr<CmdRequest> request;
    RunOptions options;
    qvm::CancellationToken cancellation;

    std::mutex mutex;  // guards everything below
    std::unique_ptr<PromiseDelegate> delegate;
    std::function<void()> onFinished;
    std::vector<std::function<void()>> continuations;
    bool submitted = false;
    bool finished = false;

    // Set by whichever thread starts the run (the worker or a waiting thread); the other one
    // leaves the request alone.
    std::atomic<bool> claimed{false};
    // Set once the request has been handed to the worker at once (see CmdDistributor::Worker).
    std::atomic<bool> posted{false};
    // Where the request waits in the worker's list of those it starts later, or NOT_LATER;
    // guarded by the worker's mutex.
    static constexpr std::size_t NOT_LATER = static_cast<std::size_t>(-1);
    std::size_t laterSlot = NOT_LATER;

    // The caller's handle lives here too, saving an allocation per request: built in place by
    // trackRequest, destroyed in place by RequestTrackingDeleter. It keeps this entry alive.
    alignas(CmdDistributor::RequestTracking) unsigned char handle[sizeof(
        CmdDistributor::RequestTracking)];
};

// What the distributor shares with the wait callbacks it installs, which may be called after it
// is gone. A waiting thread may run a request only between enter() and leave(), and only while
// the distributor is not closing; the distributor's destructor waits until none is.
struct RunGate {
    // Held while a request runs: the engine runs one at a time. Re-entrant, so that a host
    // function may wait for a nested evaluation, which its own thread then runs.
    std::recursive_mutex engine;

    // The runs on waiting threads under way, and CLOSING once the distributor is closing: one
    // atomic word, so that entering and leaving cost one atomic operation each and no lock.
    static constexpr std::size_t CLOSING = std::size_t{1} << (sizeof(std::size_t) * 8 - 1);
    std::atomic<std::size_t> runs{0};
    std::mutex mutex;  // with idle: wakes the closing distributor when the last run leaves
    std::condition_variable idle;

    bool enter() {
        if ((runs.fetch_add(1, std::memory_order_acquire) & CLOSING) == 0) return true;
        leave();
        return false;
    }
    void leave() {
        if (runs.fetch_sub(1, std::memory_order_acq_rel) != (CLOSING | 1)) return;
        std::lock_guard<std::mutex> lock(mutex);  // the closing thread is waiting or about to
        idle.notify_all();
    }
    void close() { runs.fetch_or(CLOSING, std::memory_order_acq_rel); }
    void waitTillIdle() {
        std::unique_lock<std::mutex> lock(mutex);
        idle.wait(lock, [this] { return runs.load(std::memory_order_acquire) == CLOSING; });
    }
};

// runQuietly: calls `function` if it is set; its failure is its own business.
inline void runQuietly(const std::function<void()>& function) noexcept {
    try {
        if (function) function();
    } catch (...) {
        // A continuation's failure is its own business; the others still run.
    }
}

}  // namespace cmddistributor::detail
