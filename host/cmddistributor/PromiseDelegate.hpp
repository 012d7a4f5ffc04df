// cmddistributor::PromiseDelegate: the caller's end of a request, handed to the distributor with
// trackRequest (the distributor owns it from then on). The distributor calls exactly one
// completion (completeWithResult or completeWithError) and markReady, in an order of its choice;
// a delegate holds a completion back until it is marked ready. Derived delegates fulfil the
// caller's promise; this base records when that has happened.
//
// Threads: completion, markReady and detach may come from any thread; derived delegates
// serialise them with their own mutex. waitTillReady and isPromiseDone may be called from any
// thread at any time.
#pragma once

#include <boost/exception_ptr.hpp>
#include <boost/optional.hpp>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "host/Export.hpp"
#include "host/cmddistributor/ExecutionStatus.hpp"
#include "host/cmddistributor/IIPResult.hpp"

namespace cmddistributor {

class QUORIX_HOST_API PromiseDelegate {
  public:
    PromiseDelegate();
    virtual ~PromiseDelegate();
    PromiseDelegate(const PromiseDelegate&) = delete;
    PromiseDelegate& operator=(const PromiseDelegate&) = delete;

    // completeWithResult / completeWithError: the outcome of the run. Give whether the delegate
    // was ready (true: the promise is fulfilled now; false: held back until markReady).
    virtual bool completeWithResult(std::unique_ptr<IIPResult> result) = 0;
    virtual bool completeWithError(boost::exception_ptr error) = 0;
    // setWaitCallback: a function that a thread about to wait on the caller's future runs first.
    virtual void setWaitCallback(std::function<void()> callback) = 0;
    // waitTillReady: blocks until the delegate has handed its promise on (fulfilled or detached).
    virtual void waitTillReady();
    // isPromiseDone: true once the promise has been handed on.
    [[nodiscard]] virtual bool isPromiseDone() const;
    // markReady: lets completions through; applies a held-back one and gives its status.
    virtual boost::optional<inExecutionStatus> markReady() = 0;
    // detach: lets the promise outlive the delegate, still pending.
    virtual void detach() = 0;

  protected:
    // tryRunTask: called by a derived delegate once its promise is fulfilled or detached. This
    // engine runs a task on a waiting thread from the wait callback, before the promise is
    // fulfilled, so there is nothing left to run here: it records that the promise is done and
    // wakes waitTillReady.
    void tryRunTask();

  private:
    mutable std::mutex mutex_;
    std::condition_variable condition_;
    bool promiseDone_ = false;
};

}  // namespace cmddistributor
