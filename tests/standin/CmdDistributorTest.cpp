// The engine stand-in's command distributor, where the plug-in relies on it beyond what the
// evaluation suite drives: a request run on the calling thread is done on return; an
// engine destroyed while a request runs cancels it and runs its continuations, so that no
// caller is left waiting, on the worker or on a thread that waits for it; however waiting threads
// and the worker race for requests, each runs once; a waiter that takes its request out of those
// the worker starts later leaves the others to the worker.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
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
using testsupport::outcome;

// Asked to, the distributor runs a request on the calling thread: it is done when submitRequest
// returns, its held-back completion delivered.
TEST(CmdDistributorTest, ARequestRunOnTheCallingThreadIsDoneOnReturn) {
    auto functions = boost::make_shared<qvm::FunctionRegistry>();
    functions->add("version", qvm::functions::answerText("4.2.0"));
    cmddistributor::CmdDistributor distributor(functions, {CompletionOrder::CompleteThenReady});
    const cmddistributor::IDType id;
    auto delegate = std::make_unique<cmddistributor::PromiseDelegateT<std::string>>(
        &convertResult<std::string>);
    auto future = delegate->getFuture();
    auto handle =
        distributor.trackRequest(makeFEvalRequest<std::string>("version", nullptr, nullptr),
                                 std::move(delegate), {}, id, true, {});
    distributor.submitRequest(handle, id, {}, true);
    EXPECT_EQ(future.wait_for(boost::chrono::milliseconds(0)), boost::future_status::ready);
    EXPECT_EQ(future.get(), "4.2.0");
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
        engine->registerFunction("hold", testsupport::holdUntilCancelled(started));
        qvm::Future<std::string> pending = fevalAsync<std::string>(engine, "hold");
        int continued = 0;
        pending.getTaskReference()->addContinuation([&] { ++continued; });
        std::string result;
        std::thread waiter([&] { result = outcome([&] { return pending.get(); }); });
        EXPECT_NE(started.get_future().get(), std::this_thread::get_id());
        engine.reset();
        EXPECT_EQ(continued, 1);
        waiter.join();
        EXPECT_EQ(
            result,
            "host Interrupted 'Quorix:cancelled' 'hold': Evaluation of 'hold' was cancelled.");
        pending.getTaskReference()->addContinuation([&] { ++continued; });
        EXPECT_EQ(continued, 2);
    }
}

// Waiting threads race the worker for the same requests (the worker's sweep starts what it finds
// at once, and a waiter that finds the engine busy hands its request to the worker): whoever
// starts a request, its host function runs exactly once and its caller gets its own answer.
TEST(CmdDistributorTest, EachRequestRunsOnceWhetherAWaiterOrTheWorkerStartsIt) {
    constexpr int WAITERS = 3, EACH = 400;
    cmddistributor::DistributorOptions options;
    options.startDelay = 0us;
    auto engine = qvm::QVM::create(options);
    std::vector<std::string> arguments;  // the evaluations keep pointers to them
    for (int i = 0; i < WAITERS * EACH; ++i) arguments.push_back(std::to_string(i));
    std::vector<std::atomic<int>> runs(arguments.size());
    auto spin = [](int rounds) {
        for (volatile int left = rounds; left > 0; left = left - 1) continue;
    };
    static thread_local bool waiter = false;
    std::atomic<int> byWaiters{0}, byWorker{0};
    engine->registerFunction("count", [&](qvm::HostCall& call) {
        const int request = std::stoi(matrix::get_string(call.getInputs().at(0)));
        ++runs.at(request), ++(waiter ? byWaiters : byWorker);
        spin(request * 104729 % 100000);  // the engine stays busy a while: others queue
        return qvm::functions::answerText(arguments[request])(call);
    });
    std::vector<std::thread> waiters;
    for (int w = 0; w < WAITERS; ++w)
        waiters.emplace_back([&, w] {
            waiter = true;
            for (int i = w * EACH; i < (w + 1) * EACH; ++i) {
                auto future = fevalAsync<std::string>(engine, "count", arguments[i].c_str());
                spin(i * 7919 % 200000);  // waits start at once or up to a few hundred µs later
                ASSERT_EQ(future.wait_for(boost::chrono::seconds(10)), boost::future_status::ready)
                    << i;
                EXPECT_EQ(outcome([&] { return future.get(); }), arguments[i]);
            }
        });
    for (std::thread& thread : waiters) thread.join();
    for (int i = 0; i < WAITERS * EACH; ++i) EXPECT_EQ(runs[i].load(), 1) << "request " << i;
    EXPECT_GT(byWaiters.load() * byWorker.load(), 0);  // both sides took part, or nothing raced
}

// Requests wait together for the worker's delayed start; waiting on some of them (one from the
// middle of the list, then the one that took its place) runs those here and leaves every other one
// to the worker, each exactly once.
TEST(CmdDistributorTest, RequestsRunByTheirWaitersLeaveTheRestToTheWorker) {
    cmddistributor::DistributorOptions options;
    options.startDelay = 50ms;
    auto engine = qvm::QVM::create(options);
    const std::vector<std::string> arguments{"0", "1", "2", "3", "4"};
    std::mutex mutex;
    std::condition_variable ran;
    std::vector<int> runs(arguments.size());
    engine->registerFunction("count", [&](qvm::HostCall& call) {
        const int request = std::stoi(matrix::get_string(call.getInputs().at(0)));
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++runs.at(request);
        }
        ran.notify_all();
        return qvm::functions::answerText(arguments[request])(call);
    });
    std::vector<qvm::Future<std::string>> futures;
    for (const std::string& argument : arguments)
        futures.push_back(fevalAsync<std::string>(engine, "count", argument.c_str()));
    for (int waited : {1, 4}) EXPECT_EQ(futures[waited].get(), arguments[waited]);
    std::unique_lock<std::mutex> lock(mutex);
    EXPECT_TRUE(ran.wait_for(lock, 10s, [&] { return runs[0] && runs[2] && runs[3]; }));
    EXPECT_EQ(runs, std::vector<int>(arguments.size(), 1));
}

}  // namespace
