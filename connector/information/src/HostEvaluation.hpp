// Host evaluation: asking the engine to evaluate one of its functions by name, with no argument
// or one text argument, and getting one typed result (std::string, std::u16string or
// std::vector<QuorixProduct>, see HostResultConversion.hpp).
//
//   std::u16string version = fevalSync<std::u16string>(*this, vm, "version");
//   auto products = fevalSync<std::vector<QuorixProduct>>(*this, vm, "ver", "vantrell");
//
// How a value travels:
//
//   fevalSync ── fevalAsync ── makeFEvalRequest: FEvalCmdRequest ─ FEvalIIP ─ FEvalOpaqueData
//      │              └─────── fevalRequest: PromiseDelegateT ──> CmdDistributor (waiter or worker)
//      │                                        │ completeWithResult / completeWithError, markReady
//      └── waits on qvm::Future <── boost::promise
//
// fevalSync blocks the calling thread in timed waits of TIMEOUT_SLICE on the future (a fast
// evaluation returns as soon as it is done). Before each slice it looks at the engine's validity
// and the provider's running flag; once either is gone it cancels the task and takes whatever
// the task then delivers. There is no overall time-out.
//
// How a stop reaches the task, wherever it runs. The engine runs the task on its worker, or on
// the waiting thread itself (the future's wait callback), which then does not look at anything
// until the task has ended. So the task hears of it through its cancellation token:
//   - the provider stops (setRunning(false)): fevalSync lists a CancelOnStop with the provider
//     while it waits, and the stop signals the task's token on the stopping thread;
//   - the engine becomes invalid (QVM::setValid(false)): the engine cancels every task in flight.
// A task on the worker also ends through its token; failing that, the waiting thread notices
// either change by the end of its slice and cancels the task itself. Either way the caller gets
// what the task then delivers: its value if it finished regardless, else the engine's
// Interrupted error.
//
// Errors: "Invalid QVM state" (std::runtime_error) before anything is submitted; everything
// else, the engine's errors included, is raised when the value is taken, unchanged in type and
// text. Nothing is caught or turned into a default here.
//
// Ownership: a text argument is kept as the pointer, not copied: it must outlive the evaluation
// (string literals do). The distributor owns the delegate once handed over; a delegate
// destroyed without completing breaks its promise (boost::broken_promise when taken).
#pragma once

#include <boost/chrono/duration.hpp>
#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/future.hpp>
#include <boost/throw_exception.hpp>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>

#include "HostRequests.hpp"
#include "connector/framework/ServiceProvider.hpp"
#include "host/cmddistributor/CmdDistributor.hpp"
#include "host/cmddistributor/IDType.hpp"
#include "host/cmddistributor/RunOptions.hpp"
#include "host/qvm/CmdDistributorTaskReference.hpp"
#include "host/qvm/Future.hpp"
#include "host/qvm/NullCmdDistributorTaskReference.hpp"
#include "host/qvm/QVM.hpp"

namespace connector::information::v1 {

// TIMEOUT_SLICE: how long fevalSync waits on the future before it looks at the engine again.
inline constexpr boost::chrono::microseconds TIMEOUT_SLICE{10000};

// InputOf<Args...>: the input shape of an evaluation with these arguments.
template <class... Args>
using InputOf = std::conditional_t<sizeof...(Args) == 0, void, std::tuple<Args...>>;

// makeFEvalRequest: the request to evaluate `function` with `args`, writing to the given sinks.
template <class Out, class... Args>
[[nodiscard]] boost::shared_ptr<cmddistributor::FEvalCmdRequest<InputOf<Args...>, Out>>
makeFEvalRequest(std::string function, const boost::shared_ptr<qxutil::io::QXSink>& outputSink,
                 const boost::shared_ptr<qxutil::io::QXSink>& errorSink, Args... args) {
    using In = InputOf<Args...>;
    cmddistributor::detail::FEvalOpaqueInputData<In> input = [&] {
        if constexpr (std::is_void_v<In>)
            return cmddistributor::detail::FEvalOpaqueInputData<void>();
        else
            return cmddistributor::detail::FEvalOpaqueInputData<In>(std::make_tuple(args...));
    }();
    return boost::make_shared<cmddistributor::FEvalCmdRequest<In, Out>>(
        std::move(function), outputSink, errorSink, std::move(input));
}

// RequestedFuture: the future of a submitted evaluation, and the promise's shared state, which
// keeps the promise pending should the distributor detach the delegate. Keep the state as long
// as the future.
template <class Out>
struct RequestedFuture {
    boost::future<Out> future;
    boost::shared_ptr<cmddistributor::PromiseState<Out>> state;
};

// EvaluationState<Out>: what one evaluation started by fevalAsync shares between its delegate
// and its future, in one allocation: the promise and the task reference.
template <class Out>
struct EvaluationState : cmddistributor::PromiseState<Out> {
    EvaluationState(const boost::shared_ptr<cmddistributor::CmdDistributor>& distributor,
                    const cmddistributor::IDType& id)
        : task(distributor, id) {}
    qvm::detail::CmdDistributorTaskReference task;
};

// fevalRequest: hands `request` to `distributor` with a new delegate (over `state`, or a promise
// state of its own) and gives the delegate's future. Raises std::invalid_argument "request cannot
// be null." and "request must contain an IIP."; errors of the distributor's trackRequest and
// submitRequest pass on.
template <class Out>
[[nodiscard]] RequestedFuture<Out> fevalRequest(
    const boost::shared_ptr<cmddistributor::CmdDistributor>& distributor,
    const boost::shared_ptr<cmddistributor::CmdRequest>& request,
    const cmddistributor::RunOptions& options, const cmddistributor::IDType& id,
    boost::shared_ptr<cmddistributor::PromiseState<Out>> state = nullptr) {
    if (!request) throw std::invalid_argument("request cannot be null.");
    if (!request->getIIP()) throw std::invalid_argument("request must contain an IIP.");
    if (!state) state = boost::make_shared<cmddistributor::PromiseState<Out>>();
    auto delegate =
        std::make_unique<cmddistributor::PromiseDelegateT<Out>>(&convertResult<Out>, state);
    RequestedFuture<Out> requested{delegate->getFuture(), std::move(state)};
    cmddistributor::CmdDistributor::RequestTrackingPtr handle = distributor->trackRequest(
        request, std::move(delegate), options, id, true, std::function<void()>());
    distributor->submitRequest(handle, id, options, false);
    handle.reset();
    return requested;
}

// fevalAsync: starts the evaluation and gives its future at once. An engine without a
// distributor gives a future holding RuntimeException "No CmdDistributor available" (status
// Unavailable); nothing is raised here for it.
template <class Out, class... Args>
[[nodiscard]] qvm::Future<Out> fevalAsync(const std::shared_ptr<qvm::QVM>& vm,
                                          const std::string& function, Args... args) {
    if (!vm) throw std::runtime_error("Invalid QVM state");
    const cmddistributor::IDType id;
    const boost::shared_ptr<cmddistributor::CmdDistributor> distributor = vm->getCmdDistributor();
    if (!distributor) {
        boost::promise<Out> unavailable;
        unavailable.set_exception(boost::copy_exception(cmddistributor::RuntimeException(
            cmddistributor::inExecutionStatus::Unavailable, "No CmdDistributor available", "", "",
            {}, {}, false, {})));
        return qvm::Future<Out>(unavailable.get_future(),
                                boost::make_shared<qvm::detail::NullCmdDistributorTaskReference>());
    }
    auto state = boost::make_shared<EvaluationState<Out>>(distributor, id);
    cmddistributor::RunOptions options;
    options.setOutSink(vm->wrapSink(options.getOutSink(), false));
    options.setErrSink(vm->wrapSink(options.getErrSink(), true));
    auto request =
        makeFEvalRequest<Out>(function, options.getOutSink(), options.getErrSink(), args...);
    boost::future<Out> future =
        fevalRequest<Out>(distributor, request, cmddistributor::RunOptions(options), id, state)
            .future;
    // Aliasing: the task reference the future holds keeps the promise's state too.
    return qvm::Future<Out>(std::move(future),
                            boost::shared_ptr<qvm::TaskReference>(state, &state->task));
}

// cancelTask: asks the task to stop: signals its token, or repeats the request through
// cancel_callback when the token was signalled already.
inline void cancelTask(qvm::TaskReference& task) {
    if (task.getCancellationToken().isSignalled()) {
        task.cancel_callback(true);
    } else {
        task.setCancelRequested();
        task.getCancellationToken().signal();
    }
}

// CancelOnStop: while it lives, a stop of `provider` cancels `task` (may be null: nothing to
// cancel), on the stopping thread.
class CancelOnStop final : public connector::StopListener {
  public:
    CancelOnStop(const connector::ServiceProvider& provider, qvm::TaskReference* task) noexcept
        : provider(provider), task(task) {
        provider.listen(*this);
    }
    ~CancelOnStop() { provider.unlisten(*this); }
    CancelOnStop(const CancelOnStop&) = delete;
    CancelOnStop& operator=(const CancelOnStop&) = delete;

    void stopped() noexcept override {
        try {
            if (task != nullptr) cancelTask(*task);
        } catch (...) {
            // The engine refused to hear it: the waiting thread cancels again at its next look.
        }
    }

  private:
    const connector::ServiceProvider& provider;
    qvm::TaskReference* task;
};

// waitWhileWanted: waits on `future` in slices of TIMEOUT_SLICE until it is ready or the engine
// or the provider has gone away. Both are looked at before every slice, the first included: one
// that went away while the evaluation was being submitted is not waited for.
template <class Out>
void waitWhileWanted(const connector::ServiceProvider& provider, const qvm::QVM& vm,
                     qvm::Future<Out>& future) {
    for (bool first = true;; first = false) {
        if (!future.valid()) boost::throw_exception(boost::future_uninitialized());
        if (!vm.isValid() || !provider.isRunning()) return;
        if (!first) std::this_thread::yield();
        if (future.wait_for(TIMEOUT_SLICE) == boost::future_status::ready) return;
    }
}

// fevalSync: evaluates `function` with `args` and waits for the value; see the top of this file.
template <class Out, class... Args>
[[nodiscard]] Out fevalSync(const connector::ServiceProvider& provider,
                            const std::shared_ptr<qvm::QVM>& vm, const std::string& function,
                            Args... args) {
    if (!provider.isRunning() || !vm || !vm->isValid())
        throw std::runtime_error("Invalid QVM state");
    qvm::Future<Out> future = fevalAsync<Out>(vm, function, args...);
    qvm::TaskReference* task = future.getTaskReference().get();
    {
        // Listed before the wait loop's first look at the flag: a stop is either seen there or
        // told to the task. Unlisted before the cancellation below, so that a stop that told the
        // task already has finished doing so.
        const CancelOnStop cancelOnStop(provider, task);
        waitWhileWanted(provider, *vm, future);
    }
    if (!future.is_ready() && task != nullptr) cancelTask(*task);
    return future.get();
}

}  // namespace connector::information::v1
