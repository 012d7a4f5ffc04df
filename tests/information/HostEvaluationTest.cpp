// Host evaluation through the engine's distributor: the service evaluations in every engine
// mode, refusal of an invalid state, errors passed on unchanged, the delegate's holding back of
// early completions, refused requests, and cancellation once the engine or service goes away,
// wherever the task runs, within a few wait slices.
#include <gtest/gtest.h>

#include <atomic>
#include <boost/optional/optional_io.hpp>
#include <chrono>
#include <future>
#include <thread>

#include "../support/FaultyDistributor.hpp"
#include "../support/Outcomes.hpp"
#include "connector/information/src/HostEvaluation.hpp"
#include "host/qvm/NullCmdDistributorTaskReference.hpp"
#include "host/qxutil/except/QXException.hpp"

namespace {

using namespace std::chrono_literals;
using namespace connector::information::v1;
using cmddistributor::inExecutionStatus;
using cmddistributor::RuntimeException;
using Delegate = cmddistributor::PromiseDelegateT<std::string>;
using Products = std::vector<QuorixProduct>;
using Provider = testsupport::RunningProvider;
using testsupport::errorText;
using testsupport::textResult;
namespace fn = qvm::functions;

TEST(HostEvaluationTest, TheFourServiceEvaluationsRunEndToEndInEveryEngineMode) {
    Provider provider;
    using cmddistributor::CompletionOrder, cmddistributor::ResultForm, cmddistributor::InputForm;
    for (auto order : {CompletionOrder::ReadyThenComplete, CompletionOrder::CompleteThenReady})
        for (auto result : {ResultForm::SerializedArrays, ResultForm::TypedValue})
            for (auto inputs : {InputForm::SerializedArrays, InputForm::Arrays}) {
                SCOPED_TRACE(testing::Message() << int(order) << int(result) << int(inputs));
                auto engine = qvm::QVM::create({order, result, inputs});
                testsupport::registerServiceFunctions(*engine);
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

TEST(HostEvaluationTest, AnInvalidStateIsRefusedWithNothingSubmitted) {
    auto engine = qvm::QVM::create(), invalid = qvm::QVM::create();
    std::atomic<int> calls{0};
    engine->registerFunction("version", [&](qvm::HostCall& call) {
        ++calls;
        return fn::answerText("4.2.0")(call);
    });
    Provider running, stopped;
    stopped.setRunning(false);
    invalid->setValid(false);
    for (const auto& [provider, vm] :
         {std::pair<Provider*, std::shared_ptr<qvm::QVM>>{&stopped, engine},
          {&running, nullptr},
          {&running, invalid}}) {
        EXPECT_EQ(errorText([&, &provider = *provider, &vm = vm] {
                      (void)fevalSync<std::u16string>(provider, vm, "version");
                  }),
                  "Invalid QVM state");
    }
    EXPECT_EQ(engine->getCmdDistributor()->getSubmittedCount(), 0u);
    EXPECT_EQ(invalid->getCmdDistributor()->getSubmittedCount(), 0u);
    EXPECT_EQ(calls.load(), 0);

    auto noDistributor = qvm::QVM::createWithoutDistributor();
    try {
        (void)fevalSync<std::string>(running, noDistributor, "version");
        ADD_FAILURE() << "no error";
    } catch (const RuntimeException& error) {
        EXPECT_STREQ(error.what(), "No CmdDistributor available");
        EXPECT_EQ(error.getExecutionStatus(), inExecutionStatus::Unavailable);
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
    }
}

// Completions that come before markReady are held back (the latest wins) and delivered by it;
// once ready, a completion fulfils at once. A delegate destroyed uncompleted breaks its promise;
// a detached one leaves it pending for as long as its state is held.
TEST(HostEvaluationTest, TheDelegateHoldsCompletionsBackUntilReadyAndBreaksWhenGone) {
    using testsupport::hostError;
    {
        Delegate delegate(&convertResult<std::string>);
        auto future = delegate.getFuture();
        int waits = 0;
        delegate.setWaitCallback([&] { ++waits; });
        EXPECT_FALSE(delegate.completeWithResult(textResult("early")));
        EXPECT_EQ(future.wait_for(boost::chrono::milliseconds(0)), boost::future_status::timeout);
        EXPECT_EQ(waits, 1);
        EXPECT_FALSE(delegate.isPromiseDone());
        EXPECT_EQ(delegate.markReady(), boost::make_optional(inExecutionStatus::Completed));
        EXPECT_EQ(delegate.markReady(), boost::none);
        EXPECT_TRUE(delegate.isPromiseDone());
        delegate.waitTillReady();
        EXPECT_EQ(future.get(), "early");
        EXPECT_THROW((void)future.get(), boost::future_uninitialized);
        EXPECT_THROW(delegate.completeWithResult(textResult("again")),
                     boost::promise_already_satisfied);
    }
    {
        Delegate delegate(&convertResult<std::string>);
        auto future = delegate.getFuture();
        EXPECT_EQ(delegate.markReady(), boost::none);
        EXPECT_TRUE(delegate.completeWithResult(textResult("late")));
        EXPECT_EQ(future.get(), "late");
    }
    {
        Delegate delegate(&convertResult<std::string>);
        auto future = delegate.getFuture();
        EXPECT_FALSE(delegate.completeWithResult(textResult("dropped")));
        EXPECT_FALSE(
            delegate.completeWithError(hostError(inExecutionStatus::Interrupted, "stopped")));
        EXPECT_EQ(delegate.markReady(), boost::make_optional(inExecutionStatus::Interrupted));
        EXPECT_EQ(errorText([&] { (void)future.get(); }), "stopped");
    }
    {  // another error is delivered, then raised out of markReady
        Delegate delegate(&convertResult<std::string>);
        auto future = delegate.getFuture();
        delegate.completeWithError(boost::copy_exception(std::invalid_argument("odd")));
        EXPECT_THROW((void)delegate.markReady(), std::invalid_argument);
        EXPECT_THROW((void)future.get(), std::invalid_argument);
    }
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

// What fevalRequest refuses, and how cancelTask asks a task to stop: the first cancellation
// signals the token (whose callback asks the distributor), a second asks the distributor again
// through cancel_callback.
TEST(HostEvaluationTest, MalformedRequestsAreRefusedAndCancellingAsksTheDistributorEachTime) {
    auto distributor = boost::make_shared<cmddistributor::CmdDistributor>(nullptr);
    auto bare = boost::make_shared<cmddistributor::CmdRequest>(0, nullptr, nullptr);
    EXPECT_EQ(errorText([&] { (void)fevalRequest<std::string>(distributor, nullptr, {}, {}); }),
              "request cannot be null.");
    EXPECT_EQ(errorText([&] { (void)fevalRequest<std::string>(distributor, bare, {}, {}); }),
              "request must contain an IIP.");
    EXPECT_EQ(distributor->getSubmittedCount(), 0u);

    auto faulty = boost::make_shared<testsupport::FaultyDistributor>(nullptr);
    auto engine = std::make_shared<qvm::QVM>(nullptr, faulty);
    faulty->arm(testsupport::Fault::NeverComplete);
    auto future = fevalAsync<std::string>(engine, "version");
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
    for (int mode = 0; mode < 8; ++mode) {
        const bool onWaiter = mode & 1, stopService = mode & 2, finishAnyway = mode & 4;
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

// A request the distributor keeps where the engine's own cancellation does not reach it: a stop
// of the service is told to the task, an engine turned invalid is noticed by the wait loop,
// which cancels the task itself; either way once, within a few slices, and the caller gets the
// interruption.
TEST(HostEvaluationTest, AnEvaluationThatNeverCompletesEndsOnceWhenTheServiceOrEngineGoes) {
    for (bool stopService : {true, false}) {
        SCOPED_TRACE(stopService ? "service stops" : "engine invalid");
        auto faulty = boost::make_shared<testsupport::FaultyDistributor>(nullptr);
        auto engine = std::make_shared<qvm::QVM>(nullptr, faulty);
        faulty->arm(testsupport::Fault::NeverComplete);
        Provider provider;
        Clock::time_point goneAt;
        std::thread goAway([&] {
            faulty->waitUntilWaitedOn();
            goneAt = Clock::now();
            if (stopService)
                provider.setRunning(false);
            else
                engine->setValid(false);
        });
        try {
            (void)fevalSync<std::string>(provider, engine, "version");
            ADD_FAILURE() << "no error";
        } catch (const RuntimeException& error) {
            EXPECT_STREQ(error.what(), "evaluation cancelled");
            EXPECT_EQ(error.getExecutionStatus(), inExecutionStatus::Interrupted);
        }
        const Clock::time_point returnedAt = Clock::now();
        goAway.join();
        EXPECT_LT(ms(returnedAt - goneAt), ms(FEW_SLICES));
        EXPECT_EQ(faulty->cancelRequests.load(), 1);
    }
}

}  // namespace
