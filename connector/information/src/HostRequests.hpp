// The host-side classes of one evaluation, as the engine's command distributor expects them:
// its payload (FEvalOpaqueData: input arrays on demand, output arrays into the typed result),
// its request (FEvalCmdRequest) and the delegate that fulfils its promise (PromiseDelegateT).
// The evaluation API built on them is HostEvaluation.hpp.
#pragma once

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/future.hpp>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <variant>
#include <vector>

#include "HostResultConversion.hpp"
#include "host/cmddistributor/ArrayTransport.hpp"
#include "host/cmddistributor/CmdRequest.hpp"
#include "host/cmddistributor/FEvalIIP.hpp"
#include "host/cmddistributor/FEvalOpaqueInputData.hpp"
#include "host/cmddistributor/PromiseDelegate.hpp"
#include "host/cmddistributor/RuntimeException.hpp"
#include "host/cmddistributor/VariadicFEvalType.hpp"
#include "host/foundation/quorixdata/Array.hpp"
#include "host/qvm/QvmID.hpp"

namespace connector::information::v1 {

// SOURCE_TAG: names this library as the origin of its requests, for the engine's diagnostics.
inline constexpr const char* SOURCE_TAG = "src/v1/InformationServiceProviderImpl";

// The stream of evaluations made on behalf of a service rather than typed by a user.
inline constexpr cmddistributor::IqmStreamID SERVICE_STREAM_ID =
    static_cast<cmddistributor::IqmStreamID>(-2);

}  // namespace connector::information::v1

namespace cmddistributor {

namespace detail {

// FEvalOpaqueInputData for text arguments: keeps the pointers, makes the arrays on demand.
template <class... Args>
class FEvalOpaqueInputData<std::tuple<Args...>> {
    static_assert((std::is_same_v<Args, const char*> && ...),
                  "host evaluations take text arguments only");

  public:
    explicit FEvalOpaqueInputData(std::tuple<Args...> arguments) : arguments(arguments) {}

    // makeArrays: one new array per argument, the caller's to destroy.
    [[nodiscard]] std::vector<matrix::qxArray*> makeArrays() const {
        std::vector<matrix::qxArray*> arrays;
        arrays.reserve(sizeof...(Args));
        try {
            std::apply(
                [&arrays](auto... text) {
                    // Reserved: push_back cannot fail once the array is made.
                    (arrays.push_back(connector::information::v1::makeInputArray(text).release()),
                     ...);
                },
                arguments);
        } catch (...) {
            nullSafeQxVecDestroy(arrays);
            throw;
        }
        return arrays;
    }

  private:
    std::tuple<Args...> arguments;
};

}  // namespace detail

// FEvalOpaqueData<In, Out>: the payload of one evaluation: makes its input arrays when the
// engine asks, and turns output arrays into Out when the engine converts on its side.
template <class In, class Out>
class FEvalOpaqueData final : public FEvalIIP::Data {
  public:
    explicit FEvalOpaqueData(detail::FEvalOpaqueInputData<In> input) : input(std::move(input)) {}
    ~FEvalOpaqueData() override = default;

    [[nodiscard]] SerializedInputs serializeInputs() const override {
        std::vector<matrix::qxArray*> arrays = input.makeArrays();
        struct Destroy {
            std::vector<matrix::qxArray*>& arrays;
            ~Destroy() { detail::nullSafeQxVecDestroy(arrays); }
        } destroy{arrays};
        return SerializedInputs(std::in_place_index<0>, detail::serializeQxArrays(arrays));
    }

    // getInputs: the arrays become the caller's.
    [[nodiscard]] Inputs getInputs() const override {
        return Inputs(std::in_place_index<0>, input.makeArrays());
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
    detail::FEvalOpaqueInputData<In> input;
};

// FEvalCmdRequest<In, Out>: the request of one evaluation; carries its FEvalIIP.
template <class In, class Out>
class FEvalCmdRequest final : public CmdRequest {
  public:
    FEvalCmdRequest(std::string function, boost::shared_ptr<qxutil::io::QXSink> outputSink,
                    boost::shared_ptr<qxutil::io::QXSink> errorSink,
                    detail::FEvalOpaqueInputData<In> input)
        : CmdRequest(connector::information::v1::SERVICE_STREAM_ID, std::move(outputSink),
                     std::move(errorSink))
        , iip(boost::make_shared<FEvalIIP>(
              FEvalIIP::Function(std::in_place_index<0>, std::move(function)), 1,
              boost::make_shared<FEvalOpaqueData<In, Out>>(std::move(input)), getStreamID(),
              getOutputSink(), getErrorSink(), qvm::UndefinedQvmID, qvm::UndefinedQvmID, false,
              connector::information::v1::SOURCE_TAG)) {}
    ~FEvalCmdRequest() override = default;

    [[nodiscard]] boost::shared_ptr<IIP> getIIP() const override { return iip; }

  private:
    boost::shared_ptr<FEvalIIP> iip;
};

// PromiseState<Out>: the promise of one evaluation, in an allocation of its own that the delegate
// and the future's side share, so that it lives while either may still need it and no longer.
template <class Out>
struct PromiseState {
    boost::promise<Out> promise;
    // What a thread about to wait on the future runs first (the distributor's wait callback).
    // Kept here rather than in the promise's own callback, whose copies must stay small.
    std::function<void()> onWait;
};

// PromiseDelegateT<Out>: fulfils the promise of one evaluation with the converted result or the
// error. Completions that arrive before markReady are held back (the latest one wins) and
// applied by markReady. Every operation takes the delegate's own mutex; tryRunTask runs after it
// is released, since a distributor may run a task from it.
//
// A delegate destroyed without completing breaks its promise (boost::broken_promise when the
// value is taken), unless it was detached: the promise then stays pending in its shared state,
// which the future's side keeps (state()), and a completion that still comes through the
// delegate fulfils it.
template <class Out>
class PromiseDelegateT final : public PromiseDelegate {
  public:
    using Converter = Out (*)(IIPResult&);

    explicit PromiseDelegateT(Converter converter, boost::shared_ptr<PromiseState<Out>> state =
                                                       boost::make_shared<PromiseState<Out>>())
        : sharedState(std::move(state)), converter(converter) {}
    ~PromiseDelegateT() override {
        if (!fulfilled && !detached) {
            try {
                sharedState->promise.set_exception(boost::copy_exception(boost::broken_promise()));
            } catch (...) {
                // Satisfied after all (by a completion that raised): nothing is broken.
            }
        }
    }

    // state: the promise's shared state; keep it as long as the future.
    [[nodiscard]] const boost::shared_ptr<PromiseState<Out>>& state() const noexcept {
        return sharedState;
    }

    // getFuture: REQUIRES called once, before the delegate is handed over.
    [[nodiscard]] boost::future<Out> getFuture() {
        std::lock_guard<std::mutex> lock(mutex);
        return sharedState->promise.get_future();
    }

    bool completeWithResult(std::unique_ptr<IIPResult> result) override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!ready) {
                pending.template emplace<PENDING_RESULT>(std::move(result));
                return false;
            }
            setPromiseValue(sharedState->promise, converter, std::move(result));
            fulfilled = true;
        }
        tryRunTask();
        return true;
    }

    bool completeWithError(boost::exception_ptr error) override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!ready) {
                pending.template emplace<PENDING_ERROR>(std::move(error));
                return false;
            }
            sharedState->promise.set_exception(error);
            fulfilled = true;
        }
        tryRunTask();
        return true;
    }

    void setWaitCallback(std::function<void()> callback) override {
        std::lock_guard<std::mutex> lock(mutex);
        sharedState->onWait = std::move(callback);
        // Boost copies its callback on every wait: a pointer is all it holds. The state lives as
        // long as the promise, and once the promise is gone no wait calls back.
        sharedState->promise.set_wait_callback(CallOnWait{sharedState.get()});
    }

    // markReady: gives the execution status of a held-back completion it applied (a result's, or
    // a RuntimeException's), nothing otherwise. A held-back error of another type is delivered
    // and then raised.
    boost::optional<inExecutionStatus> markReady() override {
        Pending taken;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (ready) return boost::none;
            ready = true;
            taken.swap(pending);
        }
        if (auto* result = std::get_if<PENDING_RESULT>(&taken)) {
            const inExecutionStatus status =
                *result ? (*result)->getExecutionStatus() : inExecutionStatus::Error;
            completeWithResult(std::move(*result));
            return status;
        }
        if (auto* error = std::get_if<PENDING_ERROR>(&taken)) {
            completeWithError(*error);
            try {
                boost::rethrow_exception(*error);
            } catch (const RuntimeException& hostError) {
                return hostError.getExecutionStatus();
            }
        }
        return boost::none;
    }

    // detach: the promise no longer breaks with the delegate; it stays pending in its shared
    // state, and a later completion through this delegate still fulfils it.
    void detach() override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            detached = true;
        }
        tryRunTask();
    }

  private:
    // The promise's wait callback (Boost's bind needs its result type named).
    struct CallOnWait {
        using result_type = void;
        PromiseState<Out>* state;
        void operator()(boost::promise<Out>&) const {
            if (state->onWait) state->onWait();
        }
    };

    static constexpr std::size_t PENDING_RESULT = 1;
    static constexpr std::size_t PENDING_ERROR = 2;
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

    std::mutex mutex;
    bool ready = false;
    bool fulfilled = false;
    bool detached = false;
    Pending pending;
    boost::shared_ptr<PromiseState<Out>> sharedState;
    Converter converter;
};

}  // namespace cmddistributor
