#include <gtest/gtest.h>

#include "../support/ErrorText.hpp"

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <boost/optional/optional_io.hpp>

#include "connector/framework/ServiceProvider.hpp"
#include "host/cmddistributor/FEvalResult.hpp"
#include "host/qvm/HostFunctions.hpp"
#include "host/qvm/NullCmdDistributorTaskReference.hpp"
#include "host/qxutil/except/QXException.hpp"
#include "v1/HostEvaluation.hpp"

namespace {

using namespace std::chrono_literals;
using namespace connector::information::v1;
using cmddistributor::CmdDistributor;
using cmddistributor::inExecutionStatus;
using cmddistributor::RuntimeException;
using Products = std::vector<QuorixProduct>;
namespace fn = qvm::functions;

class Provider final : public connector::ServiceProvider {
  public:
    Provider() { setRunning(true); }
    void onStart() override {}
    void onStop() override {}
};

// The functions the information service evaluates, answered as an installed host would.
void registerServiceFunctions(qvm::QVM& engine) {
    engine.registerFunction("version", fn::byArgument({{"", fn::answerText("4.2.0 build 1187")}}));
    engine.registerFunction(
        "ver", fn::byArgument({{"vantrell", fn::answerRecords({{{"Name", "Vantrell"}}})}}));
    engine.registerFunction(
        "which", fn::byArgument({{"vtr", fn::answerText("built-in (/opt/quorix/lib/vtr)")}}));
    engine.registerFunction("qls.internal.feature",
                            fn::byArgument({{"graphicsAndGuis", fn::answerText("on")}}));
}

using testsupport::errorText;

TEST(HostEvaluationTest, TheFourServiceEvaluationsRunEndToEndInEveryEngineMode) {
    Provider provider;
    for (auto order : {cmddistributor::CompletionOrder::ReadyThenComplete,
                       cmddistributor::CompletionOrder::CompleteThenReady})
        for (auto result :
             {cmddistributor::ResultForm::SerializedArrays, cmddistributor::ResultForm::TypedValue})
            for (auto inputs :
                 {cmddistributor::InputForm::SerializedArrays, cmddistributor::InputForm::Arrays}) {
                SCOPED_TRACE(testing::Message() << int(order) << int(result) << int(inputs));
                auto engine = qvm::QVM::create({order, result, inputs});
                registerServiceFunctions(*engine);
                EXPECT_EQ(fevalSync<std::string>(provider, engine, "qls.internal.feature",
                                                 "graphicsAndGuis"),
                          "on");
                EXPECT_EQ(fevalSync<std::u16string>(provider, engine, "version"),
                          u"4.2.0 build 1187");
                EXPECT_EQ(fevalSync<Products>(provider, engine, "ver", "vantrell"),
                          Products{{"Vantrell"}});
                EXPECT_EQ(fevalSync<std::u16string>(provider, engine, "which", "vtr"),
                          u"built-in (/opt/quorix/lib/vtr)");
                EXPECT_EQ(engine->getCmdDistributor()->getSubmittedCount(), 4u);
            }
}

TEST(HostEvaluationTest, InvalidStateIsRefusedWithNothingSubmitted) {
    auto engine = qvm::QVM::create();
    std::atomic<int> calls{0};
    engine->registerFunction("version", [&](qvm::HostCall&) {
        ++calls;
        return std::vector<matrix::UniqueArray>{};
    });
    Provider running, stopped;
    stopped.setRunning(false);
    auto invalid = qvm::QVM::create();
    invalid->setValid(false);
    struct Case {
        const char* name;
        const connector::ServiceProvider& provider;
        std::shared_ptr<qvm::QVM> engine;
    };
    for (const Case& c : {Case{"stopped", stopped, engine}, Case{"no engine", running, nullptr},
                          Case{"invalid", running, invalid}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(
            errorText([&] { (void)fevalSync<std::u16string>(c.provider, c.engine, "version"); }),
            "Invalid QVM state");
    }
    EXPECT_EQ(engine->getCmdDistributor()->getSubmittedCount(), 0u);
    EXPECT_EQ(invalid->getCmdDistributor()->getSubmittedCount(), 0u);
    EXPECT_EQ(calls.load(), 0);

    auto noDistributor = qvm::QVM::createWithoutDistributor();
    try {
        (void)fevalSync<std::string>(running, noDistributor, "qls.internal.feature",
                                     "graphicsAndGuis");
        ADD_FAILURE() << "no error";
    } catch (const RuntimeException& error) {
        EXPECT_STREQ(error.what(), "No CmdDistributor available");
        EXPECT_EQ(static_cast<int>(error.getExecutionStatus()), 2);
        EXPECT_EQ(error.getIdentifier(), "");
        EXPECT_EQ(error.getFunctionName(), "");
    }
    auto future = fevalAsync<std::string>(noDistributor, "version");
    EXPECT_TRUE(future.is_ready());
    EXPECT_TRUE(dynamic_cast<qvm::detail::NullCmdDistributorTaskReference*>(
        future.getTaskReference().get()));
}

TEST(HostEvaluationTest, HostAndConversionErrorsReachTheCallerUnchanged) {
    Provider provider;
    for (auto form :
         {cmddistributor::ResultForm::SerializedArrays, cmddistributor::ResultForm::TypedValue}) {
        SCOPED_TRACE(int(form));
        auto engine = qvm::QVM::create({cmddistributor::CompletionOrder::ReadyThenComplete, form,
                                        cmddistributor::InputForm::SerializedArrays});
        engine->registerFunction(
            "ver", fn::failWith("Unrecognized product 'vantrell'.", "Quorix:ver:unknown"));
        engine->registerFunction("nothing", [](qvm::HostCall& call) {
            call.getErrors().write("nothing to say");
            return std::vector<matrix::UniqueArray>{};
        });
        engine->registerFunction("number", fn::answerArray(matrix::createDoubleScalar(1)));
        engine->registerFunction("null", fn::answerArray(nullptr));
        try {
            (void)fevalSync<Products>(provider, engine, "ver", "vantrell");
            ADD_FAILURE() << "no error";
        } catch (const RuntimeException& error) {
            EXPECT_STREQ(error.what(), "Unrecognized product 'vantrell'.");
            EXPECT_EQ(error.getIdentifier(), "Quorix:ver:unknown");
            EXPECT_EQ(error.getFunctionName(), "ver");
            EXPECT_EQ(error.getExecutionStatus(), inExecutionStatus::Error);
        }
        EXPECT_EQ(errorText([&] { (void)fevalSync<std::string>(provider, engine, "nosuch"); }),
                  "Undefined function 'nosuch'.");
        EXPECT_EQ(errorText([&] { (void)fevalSync<std::string>(provider, engine, "nothing"); }),
                  "The function gave 0 output(s) where at least 1 are required.");
        EXPECT_EQ(engine->getErrorText(), "nothing to say");
        EXPECT_THROW((void)fevalSync<std::u16string>(provider, engine, "number"),
                     qxutil::except::QXException);
        EXPECT_EQ(errorText([&] { (void)fevalSync<std::string>(provider, engine, "null"); }),
                  "feval returned null.");
    }
}

std::unique_ptr<cmddistributor::FEvalResult> textResult(const std::string& text) {
    matrix::UniqueArray array = matrix::create(text.data(), text.size());
    return cmddistributor::FEvalResult::makeSerialized(
        cmddistributor::detail::serializeQxArrays({array.get()}));
}

boost::exception_ptr hostError(inExecutionStatus status, const std::string& text) {
    return boost::copy_exception(RuntimeException(status, text, "", "", {}, {}, false, {}));
}

TEST(HostEvaluationTest, DelegateHoldsCompletionsBackUntilReady) {
    using Delegate = cmddistributor::PromiseDelegateT<std::string>;
    {  // result first: markReady delivers it and reports its status
        Delegate delegate(&convertResult<std::string>);
        auto future = delegate.getFuture();
        int waits = 0;
        delegate.setWaitCallback([&] { ++waits; });
        EXPECT_FALSE(delegate.completeWithResult(textResult("early")));
        EXPECT_EQ(future.wait_for(boost::chrono::milliseconds(0)), boost::future_status::timeout);
        EXPECT_EQ(waits, 1);
        EXPECT_FALSE(delegate.isPromiseDone());
        EXPECT_EQ(delegate.markReady(),
                  boost::optional<inExecutionStatus>(inExecutionStatus::Completed));
        EXPECT_EQ(delegate.markReady(), boost::none);
        EXPECT_TRUE(delegate.isPromiseDone());
        delegate.waitTillReady();
        EXPECT_EQ(future.get(), "early");
        EXPECT_THROW((void)future.get(), boost::future_uninitialized);
        EXPECT_THROW(delegate.completeWithResult(textResult("again")),
                     boost::promise_already_satisfied);
    }
    {  // ready first: a completion fulfils at once
        Delegate delegate(&convertResult<std::string>);
        auto future = delegate.getFuture();
        EXPECT_EQ(delegate.markReady(), boost::none);
        EXPECT_TRUE(delegate.completeWithResult(textResult("late")));
        EXPECT_EQ(future.get(), "late");
    }
    {  // the latest held-back completion wins; a host error's status is reported
        Delegate delegate(&convertResult<std::string>);
        auto future = delegate.getFuture();
        EXPECT_FALSE(delegate.completeWithResult(textResult("dropped")));
        EXPECT_FALSE(
            delegate.completeWithError(hostError(inExecutionStatus::Interrupted, "stopped")));
        EXPECT_EQ(delegate.markReady(),
                  boost::optional<inExecutionStatus>(inExecutionStatus::Interrupted));
        EXPECT_EQ(errorText([&] { (void)future.get(); }), "stopped");
    }
    {  // another error is delivered, then raised out of markReady
        Delegate delegate(&convertResult<std::string>);
        auto future = delegate.getFuture();
        delegate.completeWithError(boost::copy_exception(std::invalid_argument("odd")));
        EXPECT_THROW((void)delegate.markReady(), std::invalid_argument);
        EXPECT_THROW((void)future.get(), std::invalid_argument);
    }
    {  // destroyed without completion: broken promise; detached: the future stays pending for
       // as long as its side keeps the holder, and breaks when that goes too
        boost::future<std::string> broken, detached;
        std::shared_ptr<const void> holder;
        {
            Delegate first(&convertResult<std::string>), second(&convertResult<std::string>);
            broken = first.getFuture();
            detached = second.getFuture();
            holder = second.promiseHolder();
            second.detach();
            EXPECT_TRUE(second.isPromiseDone());
        }
        EXPECT_THROW((void)broken.get(), boost::broken_promise);
        EXPECT_EQ(detached.wait_for(boost::chrono::milliseconds(0)), boost::future_status::timeout);
        holder.reset();
        EXPECT_THROW((void)detached.get(), boost::broken_promise);
    }
}

// A distributor that misbehaves in the way `fault` says, to reach the caller's failure paths.
class FaultyDistributor final : public CmdDistributor {
  public:
    enum class Fault {
        ThrowOnTrack,
        ThrowOnSubmit,
        DropDelegate,
        ErrorBeforeReady,
        ResultBeforeReady,
        CompleteOnlyWhenCancelled
    };

    explicit FaultyDistributor(Fault fault) : CmdDistributor(nullptr), fault_(fault) {}
    ~FaultyDistributor() override { kept_.reset(); }

    RequestTrackingPtr trackRequest(const boost::shared_ptr<cmddistributor::CmdRequest>& request,
                                    std::unique_ptr<cmddistributor::PromiseDelegate> delegate,
                                    const cmddistributor::RunOptions& options,
                                    const cmddistributor::IDType& id, bool trackById,
                                    std::function<void()> onFinished) override {
        if (fault_ == Fault::ThrowOnTrack) throw std::runtime_error("cannot track");
        return CmdDistributor::trackRequest(request, std::move(delegate), options, id, trackById,
                                            std::move(onFinished));
    }

    void submitRequest(const RequestTrackingPtr& handle, const cmddistributor::IDType& id,
                       cmddistributor::RunOptions, bool) override {
        auto delegate = handle->releaseDelegate();
        switch (fault_) {
            case Fault::ThrowOnSubmit:
                throw std::runtime_error("cannot submit");
            case Fault::ErrorBeforeReady:
                delegate->completeWithError(hostError(inExecutionStatus::Error, "refused"));
                (void)delegate->markReady();
                break;
            case Fault::ResultBeforeReady:
                delegate->completeWithResult(textResult("early"));
                status_ = delegate->markReady();
                break;
            case Fault::CompleteOnlyWhenCancelled: {
                std::lock_guard<std::mutex> lock(mutex_);
                kept_ = std::move(delegate);
                id_ = id.getValue();
                break;
            }
            default:  // DropDelegate: destroyed here, never completed
                break;
        }
    }

    bool cancelRequest(const cmddistributor::IDType& id) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!kept_ || id.getValue() != id_) return false;
        (void)kept_->markReady();
        kept_->completeWithError(hostError(inExecutionStatus::Interrupted, "cancelled late"));
        kept_.reset();
        return true;
    }

    boost::optional<inExecutionStatus> status_;

  private:
    Fault fault_;
    std::mutex mutex_;
    std::unique_ptr<cmddistributor::PromiseDelegate> kept_;
    std::uint64_t id_ = 0;
};

TEST(HostEvaluationTest, DistributorFaultsSurfaceAtTheCaller) {
    using Fault = FaultyDistributor::Fault;
    Provider provider;
    auto engineWith = [](Fault fault) {
        auto distributor = boost::make_shared<FaultyDistributor>(fault);
        return std::make_pair(std::make_shared<qvm::QVM>(nullptr, distributor), distributor);
    };
    EXPECT_EQ(errorText([&] {
                  (void)fevalSync<std::string>(provider, engineWith(Fault::ThrowOnTrack).first,
                                               "version");
              }),
              "cannot track");
    EXPECT_EQ(errorText([&] {
                  (void)fevalSync<std::string>(provider, engineWith(Fault::ThrowOnSubmit).first,
                                               "version");
              }),
              "cannot submit");
    EXPECT_THROW(
        (void)fevalSync<std::string>(provider, engineWith(Fault::DropDelegate).first, "version"),
        boost::broken_promise);
    EXPECT_EQ(errorText([&] {
                  (void)fevalSync<std::string>(provider, engineWith(Fault::ErrorBeforeReady).first,
                                               "version");
              }),
              "refused");
    auto early = engineWith(Fault::ResultBeforeReady);
    EXPECT_EQ(fevalSync<std::string>(provider, early.first, "version"), "early");
    EXPECT_EQ(early.second->status_,
              boost::optional<inExecutionStatus>(inExecutionStatus::Completed));

    // A task that completes only once asked to stop: the first cancellation signals the token,
    // a second one goes through cancel_callback again.
    auto silent = engineWith(Fault::CompleteOnlyWhenCancelled).first;
    auto future = fevalAsync<std::string>(silent, "version");
    EXPECT_EQ(future.wait_for(boost::chrono::milliseconds(20)), boost::future_status::timeout);
    qvm::TaskReference& task = *future.getTaskReference();
    cancelTask(task);
    EXPECT_TRUE(task.isCancelRequested());
    EXPECT_EQ(task.getCancellationToken().getSignallingThread(), std::this_thread::get_id());
    cancelTask(task);
    EXPECT_EQ(errorText([&] { (void)future.get(); }), "cancelled late");
    EXPECT_THROW((void)future.get(), boost::future_uninitialized);
    EXPECT_THROW((void)qvm::Future<std::string>().get(), boost::future_uninitialized);

    auto distributor = boost::make_shared<CmdDistributor>(nullptr);
    auto bare = boost::make_shared<cmddistributor::CmdRequest>(0, nullptr, nullptr);
    EXPECT_EQ(errorText([&] { (void)fevalRequest<std::string>(distributor, nullptr, {}, {}); }),
              "request cannot be null.");
    EXPECT_EQ(errorText([&] { (void)fevalRequest<std::string>(distributor, bare, {}, {}); }),
              "request must contain an IIP.");
    EXPECT_EQ(distributor->getSubmittedCount(), 0u);
}

TEST(HostEvaluationTest, TheTaskIsCancelledWhenTheEngineOrServiceGoesAway) {
    auto engine = qvm::QVM::create();
    std::promise<void> started;
    std::atomic<bool> sawCancel{false};
    engine->registerFunction("slow", [&](qvm::HostCall& call) {
        started.set_value();
        sawCancel = call.waitForCancellation(1h);
        call.throwIfCancelled();
        return std::vector<matrix::UniqueArray>{};
    });
    // A task that finishes its work despite the cancellation still delivers its value.
    std::promise<void> stubbornStarted;
    engine->registerFunction("stubborn", [&](qvm::HostCall& call) {
        stubbornStarted.set_value();
        (void)call.waitForCancellation(1h);
        return fn::answerText("finished anyway")(call);
    });

    Provider provider;
    std::thread invalidate([&] {
        started.get_future().wait();
        engine->setValid(false);
    });
    try {
        (void)fevalSync<std::string>(provider, engine, "slow");
        ADD_FAILURE() << "no error";
    } catch (const RuntimeException& error) {
        EXPECT_EQ(error.getExecutionStatus(), inExecutionStatus::Interrupted);
        EXPECT_STREQ(error.what(), "Evaluation of 'slow' was cancelled.");
    }
    invalidate.join();
    EXPECT_TRUE(sawCancel);

    engine->setValid(true);
    std::thread stop([&] {
        stubbornStarted.get_future().wait();
        provider.setRunning(false);
    });
    EXPECT_EQ(fevalSync<std::string>(provider, engine, "stubborn"), "finished anyway");
    stop.join();
}

}  // namespace
