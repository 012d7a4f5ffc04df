// Host evaluation through the engine's distributor: the service evaluations in every engine
// mode, refusal of an invalid state, errors passed on unchanged, the delegate's holding back of
// early completions, refused requests, and cancellation once the engine or service goes away,
// wherever the task runs, within a few wait slices.
#include <gtest/gtest.h>

#include "../support/ErrorText.hpp"
#include "../support/FaultyDistributor.hpp"
#include "../support/HostEngine.hpp"

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <boost/optional/optional_io.hpp>

#include "connector/information/src/HostEvaluation.hpp"
#include "host/qvm/NullCmdDistributorTaskReference.hpp"
#include "host/qxutil/except/QXException.hpp"

namespace {

using namespace std::chrono_literals;
using namespace connector::information::v1;
using cmddistributor::CmdDistributor;
using cmddistributor::inExecutionStatus;
using cmddistributor::RuntimeException;
using Products = std::vector<QuorixProduct>;
namespace fn = qvm::functions;

using Provider = testsupport::RunningProvider;
using testsupport::errorText;
using testsupport::hostError;
using testsupport::registerServiceFunctions;
using testsupport::textResult;

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
    auto refusal = [](const connector::ServiceProvider& provider, std::shared_ptr<qvm::QVM> vm) {
        return errorText([&] { (void)fevalSync<std::u16string>(provider, vm, "version"); });
    };
    EXPECT_EQ(refusal(stopped, engine), "Invalid QVM state");
    EXPECT_EQ(refusal(running, nullptr), "Invalid QVM state");
    EXPECT_EQ(refusal(running, invalid), "Invalid QVM state");
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
}

// Destroyed without completion: broken promise. Detached: the future stays pending for as long
// as its side keeps the holder, and breaks when that goes too.
TEST(HostEvaluationTest, ADelegateGoneUncompletedBreaksItsPromiseOnceNobodyHoldsIt) {
    using Delegate = cmddistributor::PromiseDelegateT<std::string>;
    boost::future<std::string> broken, detached;
    boost::shared_ptr<const void> holder;
    {
        Delegate first(&convertResult<std::string>), second(&convertResult<std::string>);
        broken = first.getFuture();
        detached = second.getFuture();
        holder = second.state();
        second.detach();
        EXPECT_TRUE(second.isPromiseDone());
    }
    EXPECT_THROW((void)broken.get(), boost::broken_promise);
    EXPECT_EQ(detached.wait_for(boost::chrono::milliseconds(0)), boost::future_status::timeout);
    holder.reset();
    EXPECT_THROW((void)detached.get(), boost::broken_promise);
}

// Errors of the distributor itself are driven through the service in FaultInjectionTest; here,
// what fevalRequest refuses and how cancelTask asks a task to stop.
TEST(HostEvaluationTest, MalformedRequestsAreRefusedAndCancellingAsksTheDistributorEachTime) {
    auto distributor = boost::make_shared<CmdDistributor>(nullptr);
    auto bare = boost::make_shared<cmddistributor::CmdRequest>(0, nullptr, nullptr);
    EXPECT_EQ(errorText([&] { (void)fevalRequest<std::string>(distributor, nullptr, {}, {}); }),
              "request cannot be null.");
    EXPECT_EQ(errorText([&] { (void)fevalRequest<std::string>(distributor, bare, {}, {}); }),
              "request must contain an IIP.");
    EXPECT_EQ(distributor->getSubmittedCount(), 0u);

    // The first cancellation signals the token (whose callback asks the distributor), a second
    // one asks the distributor again through cancel_callback.
    auto faulty = boost::make_shared<testsupport::FaultyDistributor>(nullptr);
    auto engine = std::make_shared<qvm::QVM>(nullptr, faulty);
    faulty->arm(testsupport::Fault::NeverComplete);
    auto future = fevalAsync<std::string>(engine, "version");
    faulty->waitUntilKept();
    qvm::TaskReference& task = *future.getTaskReference();
    cancelTask(task);
    EXPECT_TRUE(task.isCancelRequested());
    EXPECT_EQ(task.getCancellationToken().getSignallingThread(), std::this_thread::get_id());
    EXPECT_EQ(faulty->cancelRequests.load(), 1);
    cancelTask(task);
    EXPECT_EQ(faulty->cancelRequests.load(), 2);
    EXPECT_EQ(errorText([&] { (void)future.get(); }), "evaluation cancelled");
}

// How long a caller may take to return once the engine or the service has gone away: fifty
// wait slices of 10 ms, generous for a loaded machine and the sanitizers, and still half of
// what a wait loop with slices of a second would take.
constexpr auto FEW_SLICES = std::chrono::milliseconds(500);

using Clock = std::chrono::steady_clock;

// ms: a duration in milliseconds, as test messages show it.
long long ms(Clock::duration duration) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
}

// A task waiting for the engine or the service to go away, in both engine modes (run by the
// waiting thread itself, or by the worker): the going away reaches it wherever it runs, and the
// caller gets what it then delivers, within a few slices: the Interrupted error, or its value if
// it finishes regardless. The task would go on for ten seconds without it.
TEST(HostEvaluationTest, TheTaskIsCancelledWhenTheEngineOrServiceGoesAway) {
    cmddistributor::DistributorOptions onlyWaits;
    onlyWaits.waiting = cmddistributor::WaitingThread::OnlyWaits;
    for (bool onWaiter : {true, false})
        for (bool stopService : {false, true})
            for (bool finishAnyway : {false, true}) {
                SCOPED_TRACE(testing::Message()
                             << (onWaiter ? "run by the waiting thread" : "run by the worker")
                             << (stopService ? ", service stops" : ", engine invalid")
                             << (finishAnyway ? ", finishes anyway" : ""));
                auto engine = qvm::QVM::create(onWaiter ? testsupport::waiterFirst() : onlyWaits);
                std::promise<void> started;
                std::atomic<bool> sawCancel{false};
                std::thread::id ranOn;
                engine->registerFunction("slow", [&](qvm::HostCall& call) {
                    ranOn = std::this_thread::get_id();
                    started.set_value();
                    sawCancel = call.waitForCancellation(10s);
                    if (!finishAnyway) call.throwIfCancelled();
                    return fn::answerText("finished anyway")(call);
                });
                Provider provider;
                Clock::time_point goneAt;
                std::thread goAway([&] {
                    started.get_future().wait();
                    goneAt = Clock::now();
                    if (stopService)
                        provider.setRunning(false);
                    else
                        engine->setValid(false);
                });
                std::string outcome;
                try {
                    outcome = fevalSync<std::string>(provider, engine, "slow");
                } catch (const RuntimeException& error) {
                    EXPECT_EQ(error.getExecutionStatus(), inExecutionStatus::Interrupted);
                    outcome = error.what();
                }
                const Clock::time_point returnedAt = Clock::now();
                goAway.join();
                EXPECT_EQ(outcome,
                          finishAnyway ? "finished anyway" : "Evaluation of 'slow' was cancelled.");
                EXPECT_EQ(ranOn == std::this_thread::get_id(), onWaiter);
                EXPECT_TRUE(sawCancel);
                EXPECT_LT(ms(returnedAt - goneAt), ms(FEW_SLICES));
            }
}

// Where only the wait loop can notice: the engine turns invalid, but its distributor keeps the
// request where the engine's cancellation does not reach it. The caller, in a slice of its wait
// when it happens, returns within a few slices, having cancelled the task itself.
TEST(HostEvaluationTest, TheWaitLoopNoticesAnEngineGoneQuietlyWithinAFewSlices) {
    auto faulty = boost::make_shared<testsupport::FaultyDistributor>(nullptr);
    auto engine = std::make_shared<qvm::QVM>(nullptr, faulty);
    faulty->arm(testsupport::Fault::NeverComplete);
    Provider provider;
    Clock::time_point invalidAt;
    std::thread invalidate([&] {
        faulty->waitUntilWaitedOn();
        invalidAt = Clock::now();
        engine->setValid(false);
    });
    EXPECT_EQ(errorText([&] { (void)fevalSync<std::string>(provider, engine, "version"); }),
              "evaluation cancelled");
    const Clock::time_point returnedAt = Clock::now();
    invalidate.join();
    EXPECT_LT(ms(returnedAt - invalidAt), ms(FEW_SLICES));
    EXPECT_EQ(faulty->cancelRequests.load(), 1);
}

}  // namespace
