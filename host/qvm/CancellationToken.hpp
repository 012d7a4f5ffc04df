// qvm::CancellationToken: a one-way "please stop" signal shared by whoever may cancel a task and
// the code doing it.
//
// signal() takes effect once: the first call records the signalling thread, runs the registered
// callbacks one after the other under the token's lock, then wakes every thread waiting on the
// token; later calls do nothing and give false. A callback registered after the signal runs at
// once, on the registering thread.
//
// NOTE: callbacks run under the token's lock; a callback must not register callbacks on, signal
// or wait on its own token.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "host/Export.hpp"

namespace qvm {

class QUORIX_HOST_API CancellationToken {
  public:
    CancellationToken() = default;
    CancellationToken(const CancellationToken&) = delete;
    CancellationToken& operator=(const CancellationToken&) = delete;

    // signal: true for the call that took effect.
    bool signal();
    [[nodiscard]] bool isSignalled() const noexcept {
        return signalled_.load(std::memory_order_acquire);
    }
    void registerCallback(std::function<void()> callback);
    // waitFor: waits at most `timeout` for the signal and its callbacks; true once both are done.
    [[nodiscard]] bool waitFor(std::chrono::nanoseconds timeout) const;
    // getSignallingThread: the thread whose signal took effect; a default id before that.
    [[nodiscard]] std::thread::id getSignallingThread() const;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable condition_;
    std::atomic<bool> signalled_{false};
    bool callbacksDone_ = false;
    std::thread::id signallingThread_;
    // The first callback is kept apart: most tokens get exactly one (their task reference's),
    // and it then costs no list.
    std::function<void()> firstCallback_;
    std::vector<std::function<void()>> callbacks_;
};

}  // namespace qvm
