// Engine pieces shared by the evaluation, information and stand-in suites: a running provider for
// fevalSync, the host functions the information service evaluates and one that holds its task
// until it is cancelled, host results and errors
// made by hand, as the engine's distributor would deliver them, the outcome of an evaluation or
// conversion in one comparable line, and FaultyDistributor: the engine's command distributor,
// except for the next request after arm(fault), which meets that fault.
#pragma once

#include <atomic>
#include <boost/any.hpp>
#include <boost/exception_ptr.hpp>
#include <boost/thread/future.hpp>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "connector/framework/ServiceProvider.hpp"
#include "host/cmddistributor/ArrayTransport.hpp"
#include "host/cmddistributor/CmdDistributor.hpp"
#include "host/cmddistributor/FEvalResult.hpp"
#include "host/cmddistributor/PromiseDelegate.hpp"
#include "host/cmddistributor/RuntimeException.hpp"
#include "host/matrix/Array.hpp"
#include "host/qvm/HostFunctions.hpp"
#include "host/qvm/QVM.hpp"
#include "host/qxutil/except/QXException.hpp"

namespace testsupport {

namespace cd = cmddistributor;

class RunningProvider final : public connector::ServiceProvider {
  public:
    RunningProvider() { setRunning(true); }
    void onStart() override {}
    void onStop() override {}
};

// waiterFirst: `options` with the worker's start delay so long that a thread waiting for a
// request always starts it itself, however loaded the machine (the worker still starts what is
// left when the engine goes).
inline cd::DistributorOptions waiterFirst(cd::DistributorOptions options = {}) {
    options.startDelay = std::chrono::hours(1);
    return options;
}

// serviceAnswers: "version", "ver", "which" and "qls.internal.feature", each with the argument
// the information service passes and the answer an installed host gives.
inline std::vector<std::tuple<std::string, std::string, qvm::HostFunction>> serviceAnswers() {
    namespace fn = qvm::functions;
    return {{"version", "", fn::answerText("4.2.0 build 1187")},
            {"ver", "vantrell", fn::answerRecords({{{"Name", "Vantrell"}}})},
            {"which", "vtr", fn::answerText("built-in (/opt/quorix/lib/vtr)")},
            {"qls.internal.feature", "graphicsAndGuis", fn::answerText("on")}};
}

inline void registerServiceFunctions(qvm::QVM& engine) {
    for (const auto& [name, argument, answer] : serviceAnswers())
        engine.registerFunction(name, qvm::functions::byArgument({{argument, answer}}));
}

// holdUntilCancelled: a host function that tells `started` the thread it runs on, waits for its
// task's cancellation (ten seconds at most) and ends with it or, `finishAnyway`, answers
// "finished anyway".
inline qvm::HostFunction holdUntilCancelled(std::promise<std::thread::id>& started,
                                            bool finishAnyway = false) {
    return [&started, finishAnyway](qvm::HostCall& call) {
        started.set_value(std::this_thread::get_id());
        (void)call.waitForCancellation(std::chrono::seconds(10));
        if (!finishAnyway) call.throwIfCancelled();
        return qvm::functions::answerText("finished anyway")(call);
    };
}

inline matrix::UniqueArray textArray(const std::string& utf8) {
    return matrix::create(utf8.data(), utf8.size());
}

// textResult: an evaluation result holding `text` as a serialized char array.
inline std::unique_ptr<cd::FEvalResult> textResult(const std::string& text) {
    return cd::FEvalResult::makeSerialized(cd::detail::serializeQxArrays({textArray(text).get()}));
}

// hostError: the engine's own error, with the identifier "Quorix:injected".
inline boost::exception_ptr hostError(cd::inExecutionStatus status, const std::string& text) {
    return boost::copy_exception(
        cd::RuntimeException(status, text, "Quorix:injected", "", {}, {}, false, {}));
}

// outcome: the text `action` returns, or the error it raises: "host <status> '<identifier>'
// '<function>': <text>" for the engine's errors, "array <identifier>" for the array library's,
// else the standard class it is caught as, with its text where the text is ours.
template <class Action>
std::string outcome(Action&& action) {
    try {
        return action();
    } catch (const cd::RuntimeException& error) {
        std::ostringstream text;
        text << "host " << error.getExecutionStatus() << " '" << error.getIdentifier() << "' '"
             << error.getFunctionName() << "': " << error.what();
        return text.str();
    } catch (const qxutil::except::QXException& error) {
        return "array " + error.getIdentifier();
    } catch (const boost::broken_promise&) {
        return "broken promise";
    } catch (const boost::bad_any_cast&) {
        return "bad_any_cast";
    } catch (const std::bad_cast&) {
        return "bad_cast";
    } catch (const std::logic_error& error) {
        return std::string("logic_error: ") + error.what();
    } catch (const std::runtime_error& error) {
        return std::string("runtime_error: ") + error.what();
    }
}

// The faults a request can meet: ThrowOnTrack: trackRequest raises "distributor cannot track";
// ThrowOnSubmit: submitRequest raises "distributor is stopping", after tracking; NeverComplete:
// kept, never run, until cancelRequest, which completes it as interrupted (cancelAll, as the
// engine's invalidation calls it, does not reach it); DropDelegate: destroyed without completion.
enum class Fault { None, ThrowOnTrack, ThrowOnSubmit, NeverComplete, DropDelegate };

class FaultyDistributor final : public cd::CmdDistributor {
  public:
    explicit FaultyDistributor(boost::shared_ptr<qvm::FunctionRegistry> functions)
        : CmdDistributor(std::move(functions)) {}

    void arm(Fault fault) { armed_ = fault; }

    // waitUntilWaitedOn: until a thread has begun to wait on the future of a NeverComplete
    // request (every wait, each slice of a timed wait too, first runs the wait callback).
    void waitUntilWaitedOn() { waitedOn_.get_future().wait(); }

    RequestTrackingPtr trackRequest(const boost::shared_ptr<cd::CmdRequest>& request,
                                    std::unique_ptr<cd::PromiseDelegate> delegate,
                                    const cd::RunOptions& options, const cd::IDType& id,
                                    bool trackById, std::function<void()> onFinished) override {
        fault_ = armed_.exchange(Fault::None);
        if (fault_ == Fault::ThrowOnTrack) throw std::runtime_error("distributor cannot track");
        return CmdDistributor::trackRequest(request, std::move(delegate), options, id, trackById,
                                            std::move(onFinished));
    }

    void submitRequest(const RequestTrackingPtr& handle, const cd::IDType& id,
                       cd::RunOptions options, bool runOnCallingThread) override {
        if (fault_ == Fault::None)
            return CmdDistributor::submitRequest(handle, id, std::move(options),
                                                 runOnCallingThread);
        if (fault_ == Fault::ThrowOnSubmit) throw std::runtime_error("distributor is stopping");
        std::unique_ptr<cd::PromiseDelegate> delegate = handle->releaseDelegate();
        if (fault_ != Fault::NeverComplete) return;  // DropDelegate: destroyed here
        delegate->setWaitCallback([this] {
            if (!told_.exchange(true)) waitedOn_.set_value();
        });
        std::lock_guard<std::mutex> lock(mutex_);
        kept_ = std::move(delegate);
        keptId_ = id.getValue();
    }

    // cancelRequest: completes a kept request as interrupted; counts every call.
    bool cancelRequest(const cd::IDType& id) override {
        ++cancelRequests;
        std::unique_ptr<cd::PromiseDelegate> kept;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!kept_ || id.getValue() != keptId_) return CmdDistributor::cancelRequest(id);
            kept = std::move(kept_);
        }
        (void)kept->markReady();
        kept->completeWithError(
            hostError(cd::inExecutionStatus::Interrupted, "evaluation cancelled"));
        return true;
    }

    std::atomic<int> cancelRequests{0};

  private:
    std::atomic<Fault> armed_{Fault::None};
    Fault fault_ = Fault::None;  // of the request being tracked and submitted (one at a time)
    std::mutex mutex_;
    std::unique_ptr<cd::PromiseDelegate> kept_;
    std::uint64_t keptId_ = 0;
    std::promise<void> waitedOn_;  // the kept request's future has been waited on (once told_)
    std::atomic<bool> told_{false};
};

}  // namespace testsupport
