// CmdDistributor::Worker: the distributor's worker thread, and the requests it starts only if
// nobody has started them by then. Internal to the engine stand-in's distributor.
//
// A request that a thread may wait for is not handed to the worker at once: waking a sleeping
// thread costs more than most evaluations (a futex call, and on another CPU an interrupt), and
// the thread that waits runs the request itself on its first wait. The worker starts such
// requests startDelay after their submission, all that came within that time together: one
// timer, armed through the timer file descriptor, which wakes nobody. Whatever nobody waits for
// therefore starts within startDelay; a request whose waiter finds the engine busy is handed to
// the worker at once (post), to run as soon as the engine is free. Closing fires the timer at
// once, so that the worker starts what is left without waiting out the delay. A thread that
// starts a request itself withdraws it from that list, so that the request ends on that thread:
// left there, the worker would let go of it at the next sweep and free on its own CPU what the
// caller allocated, hundreds at a time.
#pragma once

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <chrono>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "TrackedRequest.hpp"
#include "host/cmddistributor/CmdDistributor.hpp"

namespace cmddistributor {

struct CmdDistributor::Worker {
    explicit Worker(std::chrono::microseconds delay) : startDelay(delay) {}

    const std::chrono::microseconds startDelay;
    boost::asio::thread_pool pool{1};
    std::mutex mutex;  // guards the timer's arming, sweepArmed and later
    boost::asio::steady_timer sweep{pool};
    bool sweepArmed = false;
    std::vector<std::shared_ptr<detail::TrackedRequest>> later;

    // post: the worker starts `entry` as soon as it can.
    void post(CmdDistributor& distributor, std::shared_ptr<detail::TrackedRequest> entry) {
        entry->posted.store(true, std::memory_order_relaxed);
        boost::asio::post(
            pool, [&distributor, entry = std::move(entry)] { distributor.claimAndRun(entry); });
    }

    // startLater: the worker starts `entry` startDelay from now, unless somebody has by then.
    void startLater(CmdDistributor& distributor, std::shared_ptr<detail::TrackedRequest> entry) {
        std::lock_guard<std::mutex> lock(mutex);
        entry->laterSlot = later.size();
        later.push_back(std::move(entry));
        if (sweepArmed) return;
        sweepArmed = true;
        sweep.expires_after(startDelay);
        sweep.async_wait([this, &distributor](const boost::system::error_code&) {
            std::vector<std::shared_ptr<detail::TrackedRequest>> due;
            {
                std::lock_guard<std::mutex> lock(mutex);
                due.swap(later);
                sweepArmed = false;
                for (const auto& entry : due) entry->laterSlot = detail::TrackedRequest::NOT_LATER;
            }
            for (const auto& entry : due) distributor.claimAndRun(entry);
        });
    }

    // withdraw: takes `entry` out of the list of those started later, if it is there; it goes on
    // the caller's thread when the caller lets go of it.
    std::shared_ptr<detail::TrackedRequest> withdraw(detail::TrackedRequest& entry) {
        std::lock_guard<std::mutex> lock(mutex);
        const std::size_t slot = entry.laterSlot;
        if (slot == detail::TrackedRequest::NOT_LATER) return nullptr;
        entry.laterSlot = detail::TrackedRequest::NOT_LATER;
        std::shared_ptr<detail::TrackedRequest> withdrawn = std::move(later[slot]);
        if (slot + 1 != later.size()) {
            later[slot] = std::move(later.back());
            later[slot]->laterSlot = slot;
        }
        later.pop_back();
        return withdrawn;
    }

    void close() {
        std::lock_guard<std::mutex> lock(mutex);
        if (sweepArmed) sweep.cancel();  // the sweep runs now, with operation_aborted
    }
};

}  // namespace cmddistributor
