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
//      │              └─────── fevalRequest: PromiseDelegateT ──> CmdDistributor (worker thread)
//      │                                        │ completeWithResult / completeWithError, markReady
//      └── waits on qvm::Future <── boost::promise
//
// fevalSync blocks the calling thread in timed waits of TIMEOUT_SLICE on the future (a fast
// evaluation returns as soon as it is done). Between slices it looks at the engine's validity
// and the provider's running flag; once either is gone it cancels the task and takes whatever
// the task then delivers. There is no overall time-out.
//
// Errors: "Invalid QVM state" (std::runtime_error) before anything is submitted; everything
// else, the engine's errors included, is raised when the value is taken, unchanged in type and
// text. Nothing is caught or turned into a default here.
//
// Ownership: a text argument is kept as the pointer, not copied: it must outlive the evaluation
// (string literals do). The distributor owns the delegate once handed over; a delegate
// destroyed without completing breaks its promise (boost::broken_promise when taken).
#pragma once

#include <atomic>
#include <boost/chrono/duration.hpp>
#include <boost/function.hpp>
#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/future.hpp>
#include <boost/throw_exception.hpp>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <variant>
#include <vector>

#include "connector/framework/ServiceProvider.hpp"
#include "host/cmddistributor/ArrayTransport.hpp"
#include "host/cmddistributor/CmdDistributor.hpp"
#include "host/cmddistributor/CmdRequest.hpp"
#include "host/cmddistributor/FEvalIIP.hpp"
#include "host/cmddistributor/FEvalOpaqueInputData.hpp"
#include "host/cmddistributor/IDType.hpp"
#include "host/cmddistributor/PromiseDelegate.hpp"
#include "host/cmddistributor/RunOptions.hpp"
#include "host/cmddistributor/RuntimeException.hpp"
#include "host/cmddistributor/VariadicFEvalType.hpp"
#include "host/foundation/quorixdata/Array.hpp"
#include "host/qvm/CmdDistributorTaskReference.hpp"
#include "host/qvm/Future.hpp"
#include "host/qvm/NullCmdDistributorTaskReference.hpp"
#include "host/qvm/QVM.hpp"
#include "host/qvm/QvmID.hpp"
#include "v1/HostResultConversion.hpp"

namespace connector::information::v1 {

// TIMEOUT_SLICE: how long fevalSync waits on the future before it looks at the engine again.
inline constexpr boost::chrono::microseconds TIMEOUT_SLICE{10000};

// sourceTag: names this library as the origin of its requests, for the engine's diagnostics.
inline constexpr const char* sourceTag = "src/v1/InformationServiceProviderImpl";

// The stream of evaluations made on behalf of a service rather than typed by a user.
inline constexpr cmddistributor::IqmStreamID kServiceStreamID =
    static_cast<cmddistributor::IqmStreamID>(-2);

// InputOf<Args...>: the input shape of an evaluation with these arguments.
template <class... Args>
using InputOf = std::conditional_t<sizeof...(Args) == 0, void, std::tuple<Args...>>;

namespace detail {

// A detached promise must outlive its delegate; it is kept here until it is fulfilled (or the
// process ends: nobody may fulfil it otherwise).
void keepDetachedPromise(std::shared_ptr<void> promise);
void releaseDetachedPromise(const void* promise) noexcept;

}  // namespace detail
}  // namespace connector::information::v1

namespace cmddistributor {

namespace detail {

// FEvalOpaqueInputData for text arguments: keeps the pointers, makes the arrays on demand.
template <class... Args>
class FEvalOpaqueInputData<std::tuple<Args...>> {
    static_assert((std::is_same_v<Args, const char*> && ...),
                  "host evaluations take text arguments only");

  public:
    explicit FEvalOpaqueInputData(std::tuple<Args...> arguments) : arguments_(arguments) {}

    [[nodiscard]] std::vector<matrix::UniqueArray> makeArrays() const {
        std::vector<matrix::UniqueArray> arrays;
        arrays.reserve(sizeof...(Args));
        std::apply(
            [&arrays](auto... text) {
                (arrays.push_back(connector::information::v1::makeInputArray(text)), ...);
            },
            arguments_);
        return arrays;
    }

  private:
    std::tuple<Args...> arguments_;
};

}  // namespace detail

// FEvalOpaqueData<In, Out>: the payload of one evaluation: makes its input arrays when the
// engine asks, and turns output arrays into Out when the engine converts on its side.
template <class In, class Out>
class FEvalOpaqueData final : public FEvalIIP::Data {
  public:
    explicit FEvalOpaqueData(detail::FEvalOpaqueInputData<In> input) : input_(std::move(input)) {}
    ~FEvalOpaqueData() override = default;

    [[nodiscard]] SerializedInputs serializeInputs() const override {
        const std::vector<matrix::UniqueArray> arrays = input_.makeArrays();
        std::vector<matrix::qxArray*> borrowed;
        borrowed.reserve(arrays.size());
        for (const matrix::UniqueArray& array : arrays) borrowed.push_back(array.get());
        return SerializedInputs(std::in_place_index<0>, detail::serializeQxArrays(borrowed));
    }

    // getInputs: the arrays become the caller's.
    [[nodiscard]] Inputs getInputs() const override {
        std::vector<matrix::UniqueArray> arrays = input_.makeArrays();
        std::vector<matrix::qxArray*> owned;
        owned.reserve(arrays.size());
        for (matrix::UniqueArray& array : arrays) owned.push_back(array.release());
        return Inputs(std::in_place_index<0>, std::move(owned));
    }

    void setDeleters(ArrayDeleter, ArrayDeleter) override {}

    [[nodiscard]] boost::any completedEventFromDataArrays(
        std::vector<foundation::quorixdata::Array>&) override {
        connector::information::v1::detail::raiseRuntimeError(
            std::string("Cannot create completed event from :") +
            typeid(std::vector<foundation::quorixdata::Array>).name());
    }

    [[nodiscard]] boost::any completedEventFromQxArrays(
        std::vector<matrix::qxArray*>& outputs) override {
        return boost::any(qxutil::cmddistributor::detail::VariadicFEvalType<Out>{
            connector::information::v1::fromQxArrays<Out>(outputs)});
    }

    [[nodiscard]] bool prefersDataArrays() const override { return false; }

  private:
    detail::FEvalOpaqueInputData<In> input_;
};

// FEvalCmdRequest<In, Out>: the request of one evaluation; carries its FEvalIIP.
template <class In, class Out>
class FEvalCmdRequest final : public CmdRequest {
  public:
    FEvalCmdRequest(std::string function, boost::shared_ptr<qxutil::io::QXSink> outputSink,
                    boost::shared_ptr<qxutil::io::QXSink> errorSink,
                    detail::FEvalOpaqueInputData<In> input)
        : CmdRequest(connector::information::v1::kServiceStreamID, std::move(outputSink),
                     std::move(errorSink))
        , iip_(boost::make_shared<FEvalIIP>(
              FEvalIIP::Function(std::in_place_index<0>, std::move(function)), 1,
              boost::make_shared<FEvalOpaqueData<In, Out>>(std::move(input)), getStreamID(),
              getOutputSink(), getErrorSink(), qvm::UndefinedQvmID, qvm::UndefinedQvmID, false,
              connector::information::v1::sourceTag)) {}
    ~FEvalCmdRequest() override = default;

    [[nodiscard]] boost::shared_ptr<IIP> getIIP() const override { return iip_; }

  private:
    boost::shared_ptr<FEvalIIP> iip_;
};

// PromiseDelegateT<Out>: fulfils the promise of one evaluation with the converted result or the
// error. Completions that arrive before markReady are held back (the latest one wins) and
// applied by markReady. Every operation takes the delegate's own mutex.
template <class Out>
class PromiseDelegateT final : public PromiseDelegate {
  public:
    using Converter = Out (*)(IIPResult&);

    explicit PromiseDelegateT(Converter converter)
        : promise_(std::make_shared<boost::promise<Out>>()), converter_(converter) {}
    // Unless fulfilled or detached, the promise breaks here (boost::broken_promise).
    ~PromiseDelegateT() override = default;

    // getFuture: REQUIRES called once, before the delegate is handed over.
    [[nodiscard]] boost::future<Out> getFuture() {
        std::lock_guard<std::mutex> lock(mutex_);
        return promise_->get_future();
    }

    bool completeWithResult(std::unique_ptr<IIPResult> result) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const bool ready = ready_.load();
        if (ready) {
            setPromiseValue(*promise_, converter_, std::move(result));
            fulfilled();
        } else {
            pending_.template emplace<kPendingResult>(std::move(result));
        }
        return ready;
    }

    bool completeWithError(boost::exception_ptr error) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const bool ready = ready_.load();
        if (ready) {
            promise_->set_exception(error);
            fulfilled();
        } else {
            pending_.template emplace<kPendingError>(std::move(error));
        }
        return ready;
    }

    void setWaitCallback(std::function<void()> callback) override {
        std::lock_guard<std::mutex> lock(mutex_);
        // Boost binds the callback to the promise, so it must name its result type.
        boost::function<void(boost::promise<Out>&)> onWait =
            [callback = std::move(callback)](boost::promise<Out>&) { callback(); };
        promise_->set_wait_callback(std::move(onWait));
    }

    // markReady: gives the execution status of a held-back completion it applied (a result's, or
    // a RuntimeException's), nothing otherwise. A held-back error of another type is delivered
    // and then raised.
    boost::optional<inExecutionStatus> markReady() override {
        Pending taken;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (ready_.load()) return boost::none;
            ready_.store(true);
            taken.swap(pending_);
        }
        if (auto* result = std::get_if<kPendingResult>(&taken)) {
            const inExecutionStatus status =
                *result ? (*result)->getExecutionStatus() : inExecutionStatus::Error;
            completeWithResult(std::move(*result));
            return status;
        }
        if (auto* error = std::get_if<kPendingError>(&taken)) {
            completeWithError(*error);
            try {
                boost::rethrow_exception(*error);
            } catch (const RuntimeException& hostError) {
                return hostError.getExecutionStatus();
            }
        }
        return boost::none;
    }

    // detach: the promise is kept elsewhere from now on, so destroying the delegate leaves the
    // future pending; a later completion through this delegate still fulfils it.
    void detach() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!detached_) {
            detached_ = true;
            connector::information::v1::detail::keepDetachedPromise(promise_);
        }
        tryRunTask();
    }

  private:
    static constexpr std::size_t kPendingResult = 1;
    static constexpr std::size_t kPendingError = 2;
    using Pending = std::variant<std::monostate, std::unique_ptr<IIPResult>, boost::exception_ptr>;

    // setPromiseValue: fulfils the promise with the converted result; a conversion error is
    // stored instead. Fulfilling a fulfilled promise raises boost::promise_already_satisfied.
    static void setPromiseValue(boost::promise<Out>& promise, Converter converter,
                                std::unique_ptr<IIPResult> result) {
        try {
            if (!result)
                connector::information::v1::detail::raiseLogicError(
                    "The engine completed an evaluation without a result.");
            promise.set_value(converter(*result));
        } catch (...) {
            promise.set_exception(boost::current_exception());
        }
    }

    // REQUIRES: mutex_ held.
    void fulfilled() {
        if (detached_) connector::information::v1::detail::releaseDetachedPromise(promise_.get());
        tryRunTask();
    }

    std::atomic<bool> ready_{false};
    std::mutex mutex_;
    Pending pending_;
    std::shared_ptr<boost::promise<Out>> promise_;
    Converter converter_;
    bool detached_ = false;
};

}  // namespace cmddistributor

namespace connector::information::v1 {

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

// fevalRequest: hands `request` to `distributor` with a new delegate and gives the delegate's
// future. Raises std::invalid_argument "request cannot be null." and "request must contain an
// IIP."; errors of the distributor's trackRequest and submitRequest pass on.
template <class Out>
[[nodiscard]] boost::future<Out> fevalRequest(
    const boost::shared_ptr<cmddistributor::CmdDistributor>& distributor,
    const boost::shared_ptr<cmddistributor::CmdRequest>& request,
    const cmddistributor::RunOptions& options, const cmddistributor::IDType& id) {
    if (!request) throw std::invalid_argument("request cannot be null.");
    if (!request->getIIP()) throw std::invalid_argument("request must contain an IIP.");
    auto delegate = std::make_unique<cmddistributor::PromiseDelegateT<Out>>(&convertResult<Out>);
    boost::future<Out> future = delegate->getFuture();
    cmddistributor::CmdDistributor::RequestTrackingPtr handle = distributor->trackRequest(
        request, std::move(delegate), options, id, true, std::function<void()>());
    distributor->submitRequest(handle, id, options, false);
    handle.reset();
    return future;
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
    auto task = boost::make_shared<qvm::detail::CmdDistributorTaskReference>(distributor, id);
    cmddistributor::RunOptions options;
    options.setOutSink(vm->wrapSink(options.getOutSink(), false));
    options.setErrSink(vm->wrapSink(options.getErrSink(), true));
    auto request =
        makeFEvalRequest<Out>(function, options.getOutSink(), options.getErrSink(), args...);
    return qvm::Future<Out>(
        fevalRequest<Out>(distributor, request, cmddistributor::RunOptions(options), id),
        std::move(task));
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

// fevalSync: evaluates `function` with `args` and waits for the value; see the top of this file.
template <class Out, class... Args>
[[nodiscard]] Out fevalSync(const connector::ServiceProvider& provider,
                            const std::shared_ptr<qvm::QVM>& vm, const std::string& function,
                            Args... args) {
    if (!provider.isRunning() || !vm || !vm->isValid())
        throw std::runtime_error("Invalid QVM state");
    qvm::Future<Out> future = fevalAsync<Out>(vm, function, args...);
    for (;;) {
        if (!future.valid()) boost::throw_exception(boost::future_uninitialized());
        if (future.wait_for(TIMEOUT_SLICE) == boost::future_status::ready) break;
        if (!vm->isValid() || !provider.isRunning()) break;
        std::this_thread::yield();
    }
    if (!future.is_ready() && future.getTaskReference()) cancelTask(*future.getTaskReference());
    return future.get();
}

}  // namespace connector::information::v1
