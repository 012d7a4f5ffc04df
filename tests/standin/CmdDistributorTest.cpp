// The engine stand-in's command distributor, where the plug-in relies on it beyond what the
// evaluation suite drives: one completion and one markReady per run, in the order the
// distributor was built with, before the delegate goes and the finished callback runs; an
// engine destroyed while a request runs cancels it and runs its continuations, so that no
// caller is left waiting, on the worker or on a thread that waits for it; however waiting threads
// and the worker race for requests, each runs once.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "../support/HostEngine.hpp"
#include "../support/Outcomes.hpp"
#include "connector/information/src/HostEvaluation.hpp"

namespace {

using namespace std::chrono_literals;
using namespace connector::information::v1;
using cmddistributor::CompletionOrder;
using cmddistributor::RuntimeException;
using matrix::UniqueArray;
using testsupport::errorText;

// Writes down what the distributor does to it, in order ("; " after each step).
class RecordingDelegate final : public cmddistributor::PromiseDelegate {
  public:
    explicit RecordingDelegate(std::string& log) : log_(log) {}
    ~RecordingDelegate() override { log_ += "destroyed; "; }

    bool completeWithResult(std::unique_ptr<cmddistributor::IIPResult> result) override {
        auto& evaluation = dynamic_cast<cmddistributor::FEvalResult&>(*result);
        log_ += (ready_ ? "result " : "early result ") +
                std::to_string(evaluation.getResults().index()) + "; ";
        return ready_;
    }
    bool completeWithError(boost::exception_ptr error) override {
        log_ += (ready_ ? "error " : "early error ") +
                errorText([&] { boost::rethrow_exception(error); }) + "; ";
        return ready_;
    }
    void setWaitCallback(std::function<void()>) override {}
    boost::optional<cmddistributor::inExecutionStatus> markReady() override {
        log_ += "ready; ";
        ready_ = true;
        return boost::none;
    }
    void detach() override {}

  private:
    std::string& log_;
    bool ready_ = false;
};

TEST(CmdDistributorTest, CompletesOnceAndMarksReadyInTheChosenOrder) {
    using Form = cmddistributor::ResultForm;
    const std::tuple<CompletionOrder, Form, const char*, std::string> cases[] = {
        {CompletionOrder::ReadyThenComplete, Form::SerializedArrays, "version",
         "ready; result 1; "},
        {CompletionOrder::CompleteThenReady, Form::TypedValue, "version",
         "early result 0; ready; "},
        {CompletionOrder::CompleteThenReady, Form::SerializedArrays, "nosuch",
         "early error Undefined function 'nosuch'.; ready; "}};
    for (const auto& [order, form, function, expected] : cases) {
        auto functions = boost::make_shared<qvm::FunctionRegistry>();
        functions->add("version", qvm::functions::answerText("4.2.0"));
        cmddistributor::CmdDistributor distributor(
            functions, {order, form, cmddistributor::InputForm::Arrays});
        std::string log;
        const cmddistributor::IDType id;
        auto handle = distributor.trackRequest(
            makeFEvalRequest<std::string>(function, nullptr, nullptr),
            std::make_unique<RecordingDelegate>(log), {}, id, true, [&] { log += "finished; "; });
        distributor.submitRequest(handle, id, {}, true);  // runs on this thread
        EXPECT_EQ(log, expected + "destroyed; finished; ");
    }
}

// A host function that holds its task until it is cancelled, telling `started` once it runs.
qvm::HostFunction holdUntilCancelled(std::promise<std::thread::id>& started) {
    return [&started](qvm::HostCall& call) {
        started.set_value(std::this_thread::get_id());
        (void)call.waitForCancellation(1h);
        call.throwIfCancelled();
        return std::vector<UniqueArray>{};
    };
}

// An engine destroyed while a request runs, on the worker or on a thread that waits for it,
// cancels the request and waits until the run has ended and its continuations have run; a
// continuation added once the task is gone runs at once, on the caller's thread.
TEST(CmdDistributorTest, AnEngineDestroyedWhileARequestRunsLeavesNothingPending) {
    for (bool onWaiter : {false, true}) {
        SCOPED_TRACE(onWaiter ? "run by the waiting thread" : "run by the worker");
        auto engine = qvm::QVM::create(onWaiter ? testsupport::waiterFirst()
                                                : cmddistributor::DistributorOptions());
        std::promise<std::thread::id> started;
        engine->registerFunction("hold", holdUntilCancelled(started));
        qvm::Future<std::string> pending = fevalAsync<std::string>(engine, "hold");
        int continued = 0;
        pending.getTaskReference()->addContinuation([&] { ++continued; });
        std::string outcome;
        std::thread waiter([&] { outcome = testsupport::outcome([&] { return pending.get(); }); });
        EXPECT_NE(started.get_future().get(), std::this_thread::get_id());
        engine.reset();
        EXPECT_EQ(continued, 1);
        waiter.join();
        EXPECT_EQ(
            outcome,
            "host Interrupted 'Quorix:cancelled' 'hold': Evaluation of 'hold' was cancelled.");
        pending.getTaskReference()->addContinuation([&] { ++continued; });
        EXPECT_EQ(continued, 2);
    }
}

// Waiting threads race the worker for the same requests (the worker's sweep starts what it finds
// at once, and a waiter that finds the engine busy hands its request to the worker): whoever
// starts a request, its host function runs exactly once and its caller gets its own answer.
TEST(CmdDistributorTest, EachRequestRunsOnceWhetherAWaiterOrTheWorkerStartsIt) {
    constexpr std::size_t WAITERS = 3, EACH = 400;
    cmddistributor::DistributorOptions options;
    options.startDelay = 0us;
    auto engine = qvm::QVM::create(options);
    std::vector<std::string> arguments;  // the evaluations keep pointers to them
    for (std::size_t i = 0; i < WAITERS * EACH; ++i) arguments.push_back(std::to_string(i));
    std::vector<std::atomic<int>> runs(arguments.size());
    auto spin = [](std::size_t rounds) {
        for (volatile std::size_t left = rounds; left > 0; left = left - 1) {
        }
    };
    static thread_local bool waiter = false;
    std::atomic<int> runByWaiters{0}, runByWorker{0};
    engine->registerFunction("count", [&](qvm::HostCall& call) {
        const std::string argument = matrix::get_string(call.getInputs().at(0));
        const std::size_t request = std::stoul(argument);
        ++runs.at(request);
        spin((request * 104729) % 100000);  // the engine stays busy a while: others queue
        ++(waiter ? runByWaiters : runByWorker);
        return qvm::functions::answerText(argument)(call);
    });
    std::vector<std::thread> waiters;
    for (std::size_t w = 0; w < WAITERS; ++w)
        waiters.emplace_back([&, w] {
            waiter = true;
            for (std::size_t i = w * EACH; i < (w + 1) * EACH; ++i) {
                auto future = fevalAsync<std::string>(engine, "count", arguments[i].c_str());
                // Waits start anywhere from at once to a few hundred microseconds later.
                spin((i * 7919) % 200000);
                ASSERT_EQ(future.wait_for(boost::chrono::seconds(10)), boost::future_status::ready)
                    << "request " << i << " never ran";
                EXPECT_EQ(errorText([&] { EXPECT_EQ(future.get(), arguments[i]); }), "<no error>")
                    << "request " << i;
            }
        });
    for (std::thread& thread : waiters) thread.join();
    for (std::size_t i = 0; i < runs.size(); ++i) EXPECT_EQ(runs[i].load(), 1) << "request " << i;
    // Both sides took part, or nothing raced.
    EXPECT_GT(runByWaiters.load(), 0);
    EXPECT_GT(runByWorker.load(), 0);
}

}  // namespace
