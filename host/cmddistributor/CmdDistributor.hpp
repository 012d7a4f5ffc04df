// cmddistributor::CmdDistributor: runs requests for the engine, one at a time, under the engine's
// lock: on its own worker thread (a boost::asio::thread_pool of one thread), or on the thread
// that waits for the request.
//
// The waiting thread: a submitted request gets a wait callback on its delegate (unless
// Options::waiting says otherwise). A thread that waits on the caller's future runs it first:
// when nobody has started the request yet and the engine is idle, that thread claims the request
// and runs it itself, which spares the two thread switches of a round trip through the worker.
// The worker starts what nobody has started within Options::startDelay of its submission (at
// once when a waiter found the engine busy), and a request it has started is simply waited for.
// While a request runs on a waiting thread, that thread sees nothing else: only the request's
// cancellation token stops it. It is signalled by cancelRequest (which the caller's task
// reference calls when its own token is signalled: the caller cancelling, or its service
// stopping) and by cancelAll (the engine's invalidation).
//
// A caller tracks a request first (trackRequest: the distributor takes the delegate and gives a
// RequestTracking handle), then submits it (submitRequest), then releases the handle
// (RequestTrackingDeleter, done by RequestTrackingPtr). A handle released before submission
// drops the request and destroys its delegate, which breaks the caller's promise.
//
// A run of an FEvalIIP looks the function up by name in the function registry, gives it its
// inputs (taken from the payload in the form Options::inputs selects) and makes an FEvalResult
// of its outputs (in the form Options::result selects). Then it calls exactly one completion of
// the delegate and markReady, in the order Options::order selects, and finally runs the
// request's continuations. Failures reach the caller as errors of the delegate:
//
//   failure                                 | error given to the delegate
//   ----------------------------------------+-------------------------------------------------
//   cancelled before or while running       | RuntimeException, status Interrupted
//   not an FEvalIIP, function not by name   | RuntimeException, status Error
//   no function of that name                | RuntimeException "Undefined function 'NAME'."
//   the function raised a RuntimeException  | that exception, unchanged
//   the function raised another error       | RuntimeException, status Error, same message
//   the payload's conversion raised         | that exception, unchanged
//
// Cancellation: cancelRequest(id) signals the cancellation token the running function sees (see
// qvm::HostCall). A request tracked with `trackById` false cannot be found by its id, neither
// to cancel it nor to add continuations.
//
// Destruction cancels every live request and waits for the worker, and for the requests running
// on waiting threads, to finish them, so no request is left pending. It must not happen on the
// worker thread nor inside a run.
//
// Derived distributors may override trackRequest, submitRequest and cancelRequest (tests do, to
// inject faults); RequestTracking lets them reach the tracked request and take its delegate.
//
// Threads: every public operation may be called from any thread.
#pragma once

#include <atomic>
#include <boost/shared_ptr.hpp>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "host/Export.hpp"
#include "host/cmddistributor/CmdRequest.hpp"
#include "host/cmddistributor/IDType.hpp"
#include "host/cmddistributor/PromiseDelegate.hpp"
#include "host/cmddistributor/RunOptions.hpp"
#include "host/qvm/FunctionRegistry.hpp"

namespace cmddistributor {

namespace detail {
struct TrackedRequest;
struct RunGate;
}  // namespace detail

enum class CompletionOrder {
    ReadyThenComplete,  // markReady before the run, so the completion fulfils at once
    CompleteThenReady,  // the completion is held back and delivered by markReady
};
enum class ResultForm {
    SerializedArrays,  // the outputs, serialized, for the caller to convert
    TypedValue,        // the payload's completedEventFromQxArrays, in a boost::any
};
enum class InputForm {
    SerializedArrays,  // the payload's serializeInputs, deserialized by the engine
    Arrays,            // the payload's getInputs
};
enum class WaitingThread {
    RunsTask,   // a thread that waits for a request nobody has started runs it
    OnlyWaits,  // every request submitted to the worker runs there
};
// DistributorOptions (CmdDistributor::Options): the choices a distributor is built with.
struct DistributorOptions {
    CompletionOrder order = CompletionOrder::ReadyThenComplete;
    ResultForm result = ResultForm::SerializedArrays;
    InputForm inputs = InputForm::SerializedArrays;
    WaitingThread waiting = WaitingThread::RunsTask;
    // With RunsTask: how long a request may wait for a waiting thread to start it before the
    // worker does.
    std::chrono::microseconds startDelay{1000};
};

class QUORIX_HOST_API CmdDistributor {
  public:
    using CompletionOrder = cmddistributor::CompletionOrder;
    using ResultForm = cmddistributor::ResultForm;
    using InputForm = cmddistributor::InputForm;
    using WaitingThread = cmddistributor::WaitingThread;
    using Options = DistributorOptions;

    // RequestTracking: the caller's handle on a tracked request.
    class QUORIX_HOST_API RequestTracking {
      public:
        [[nodiscard]] const IDType& getID() const noexcept;
        [[nodiscard]] const boost::shared_ptr<CmdRequest>& getRequest() const noexcept;
        // getDelegate: the delegate, or null once taken.
        [[nodiscard]] PromiseDelegate* getDelegate() const noexcept;
        // releaseDelegate: takes the delegate out; the run will then leave it alone.
        // REQUIRES: the request is not running.
        [[nodiscard]] std::unique_ptr<PromiseDelegate> releaseDelegate() noexcept;

      private:
        friend class CmdDistributor;
        explicit RequestTracking(std::shared_ptr<detail::TrackedRequest> entry);
        std::shared_ptr<detail::TrackedRequest> entry_;
    };
    struct QUORIX_HOST_API RequestTrackingDeleter {
        void operator()(RequestTracking* handle) const noexcept;
    };
    using RequestTrackingPtr = std::unique_ptr<RequestTracking, RequestTrackingDeleter>;

    explicit CmdDistributor(boost::shared_ptr<qvm::FunctionRegistry> functions,
                            Options options = {});
    virtual ~CmdDistributor();
    CmdDistributor(const CmdDistributor&) = delete;
    CmdDistributor& operator=(const CmdDistributor&) = delete;

    // trackRequest: takes the delegate and records the request. `trackById`: whether
    // cancelRequest and addContinuation can find it by `id`. `onFinished` (may be empty) runs
    // once the run has ended, on the thread of the run. Raises std::invalid_argument for an
    // empty request or delegate.
    [[nodiscard]] virtual RequestTrackingPtr trackRequest(
        const boost::shared_ptr<CmdRequest>& request, std::unique_ptr<PromiseDelegate> delegate,
        const RunOptions& options, const IDType& id, bool trackById,
        std::function<void()> onFinished);
    // submitRequest: starts the run with `options`, on the worker (or on a thread that waits for
    // it, see the top), or on this thread when `runOnCallingThread` is true (it then returns when
    // the run has ended). Raises std::invalid_argument for an empty handle or an id that is not
    // the handle's, and std::logic_error for a request submitted before.
    virtual void submitRequest(const RequestTrackingPtr& handle, const IDType& id,
                               RunOptions options, bool runOnCallingThread);
    // cancelRequest: signals the cancellation of the live request `id`; false if there is none.
    virtual bool cancelRequest(const IDType& id);
    // cancelAll: signals the cancellation of every live request tracked by id; gives how many.
    std::size_t cancelAll();
    // addContinuation: runs `continuation` after the live request `id` has finished, on the
    // thread that ran it; at once, on this thread, if there is no such request.
    void addContinuation(const IDType& id, std::function<void()> continuation);

    [[nodiscard]] const Options& getOptions() const noexcept { return options_; }
    // getSubmittedCount: how many requests were submitted to this distributor so far.
    [[nodiscard]] std::size_t getSubmittedCount() const noexcept { return submitted_.load(); }

  private:
    struct Worker;

    void claimAndRun(const std::shared_ptr<detail::TrackedRequest>& entry) noexcept;
    static void runForWaiter(const std::shared_ptr<detail::RunGate>& gate,
                             CmdDistributor* distributor,
                             const std::weak_ptr<detail::TrackedRequest>& weak) noexcept;
    void runDelegate(detail::TrackedRequest& entry) noexcept;
    void finish(const std::shared_ptr<detail::TrackedRequest>& entry) noexcept;
    std::shared_ptr<detail::TrackedRequest> findLive(const IDType& id);

    boost::shared_ptr<qvm::FunctionRegistry> functions_;
    Options options_;
    std::atomic<std::size_t> submitted_{0};
    std::mutex mutex_;
    // The live requests tracked by id: a short list (as long as the requests in flight), searched
    // from the front; it allocates only when it grows.
    struct LiveRequest {
        IDType id;
        std::weak_ptr<detail::TrackedRequest> entry;
    };
    std::vector<LiveRequest> live_;
    std::shared_ptr<detail::RunGate> gate_;  // shared with the wait callbacks
    std::unique_ptr<Worker> worker_;         // last: destroyed (joined) first
};

}  // namespace cmddistributor
