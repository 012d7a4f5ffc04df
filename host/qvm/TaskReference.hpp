// qvm::TaskReference: the caller's handle on a task it started in the engine, kept in the
// task's qvm::Future. Through it the caller asks the task to stop: it sets the cancel-requested
// flag and signals the cancellation token, whose callbacks reach the engine; cancel_callback(true)
// repeats the request when someone else signalled the token already. Cancelling is a request:
// the task's future is still completed by the task.
//
// Threads: every operation may be called from any thread.
#pragma once

#include <atomic>
#include <functional>

#include "host/Export.hpp"
#include "host/qvm/CancellationToken.hpp"

namespace qvm {

class QUORIX_HOST_API TaskReference {
  public:
    TaskReference() = default;
    TaskReference(const TaskReference&) = delete;
    TaskReference& operator=(const TaskReference&) = delete;
    virtual ~TaskReference();

    // addContinuation: runs `continuation` once the task has finished (at once if it has).
    virtual void addContinuation(std::function<void()> continuation) = 0;
    // setReadyToExecute: tells the engine that the caller is ready for the task to run.
    virtual void setReadyToExecute() = 0;
    // cancel_callback: asks the engine to stop the task. `tokenAlreadySignalled` is true when
    // called because the token had been signalled before.
    virtual void cancel_callback(bool tokenAlreadySignalled) = 0;

    [[nodiscard]] CancellationToken& getCancellationToken() noexcept { return token_; }
    [[nodiscard]] bool isCancelRequested() const noexcept {
        return cancelRequested_.load(std::memory_order_acquire);
    }
    void setCancelRequested() noexcept { cancelRequested_.store(true, std::memory_order_release); }

  private:
    CancellationToken token_;
    std::atomic<bool> cancelRequested_{false};
};

}  // namespace qvm
