// connector::Future / Promise: fixed misuse texts, values and errors across threads,
// continuations (where they run, exactly once, also when installed while the value arrives),
// cancellation, and promises abandoned by destruction or by being assigned over.
#include "connector/framework/Future.hpp"

#include <gtest/gtest.h>

#include "../support/ErrorText.hpp"

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using connector::Future;
using connector::makeErrorFuture;
using connector::makeReadyFuture;
using connector::Promise;

using testsupport::errorText;

TEST(FutureTest, MisuseIsReportedWithFixedTexts) {
    const std::string getMisuse =
        "Future already returned it's value or has an associated continuation.";
    const std::string thenMisuse =
        "Future already has returned it's value or has an associated continuation.";

    Promise<int> promise;
    Future<int> future = promise.getFuture();
    EXPECT_EQ(errorText([&] { (void)promise.getFuture(); }), "Promise already returned a future.");
    promise.setValue(1);
    EXPECT_EQ(errorText([&] { promise.setValue(2); }), "Promise already resolved.");
    EXPECT_EQ(errorText([&] { promise.setException(std::make_exception_ptr(std::exception())); }),
              "Promise already resolved.");
    EXPECT_EQ(future.get(), 1);  // the first result stays
    EXPECT_EQ(errorText([&] { (void)future.get(); }), getMisuse);
    EXPECT_TRUE(future.isValid());  // get leaves the future valid
    EXPECT_EQ(errorText([&] { (void)future.then([](Future<int> f) { return f.get(); }); }),
              thenMisuse);
    EXPECT_FALSE(future.isValid());  // then consumes the future even when the state refuses

    Future<int> chained = makeReadyFuture(5).then([](Future<int> f) { return f.get(); });
    Future<int> moved = std::move(chained);
    EXPECT_FALSE(chained.isValid());
    EXPECT_EQ(errorText([&] { (void)chained.get(); }), "Future state isn't valid!");
    EXPECT_EQ(errorText([&] { (void)chained.then([](Future<int> f) { return f.get(); }); }),
              "Future state isn't valid!");
    EXPECT_EQ(errorText([&] { (void)Future<int>().get(); }), "Future state isn't valid!");

    Promise<int> twice;
    Future<int> source = twice.getFuture();
    auto first = source.then([](Future<int> f) { return f.get(); });
    EXPECT_EQ(errorText([&] { (void)source.then([](Future<int> f) { return f.get(); }); }),
              "Future state isn't valid!");
    twice.setValue(3);
    EXPECT_EQ(first.get(), 3);
}

TEST(FutureTest, ErrorFutureRethrowsTheStoredTypeAndText) {
    auto future = makeErrorFuture<std::unique_ptr<int>>(std::invalid_argument("bad input"));
    EXPECT_TRUE(future.isReady());
    try {
        (void)future.get();
        FAIL() << "expected std::invalid_argument";
    } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(), "bad input");
    }
    auto value = makeReadyFuture(std::make_unique<int>(7)).get();
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(*value, 7);
}

TEST(FutureTest, GetWaitsForAValueOrAnErrorFromAnotherThread) {
    Promise<std::unique_ptr<std::string>> valuePromise;
    auto valueFuture = valuePromise.getFuture();
    std::thread producer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        valuePromise.setValue(std::make_unique<std::string>("late"));
    });
    EXPECT_EQ(*valueFuture.get(), "late");
    producer.join();

    Promise<int> errorPromise;
    auto errorFuture = errorPromise.getFuture();
    std::thread failing([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        errorPromise.setException(std::make_exception_ptr(std::runtime_error("engine down")));
    });
    EXPECT_EQ(errorText([&] { (void)errorFuture.get(); }), "engine down");
    failing.join();
}

TEST(FutureTest, ContinuationOnResolvedStateRunsBeforeThenReturns) {
    const auto caller = std::this_thread::get_id();
    std::thread::id ranOn;
    auto chained = makeReadyFuture(20).then([&](Future<int> f) {
        ranOn = std::this_thread::get_id();
        return f.get() + 1;
    });
    EXPECT_EQ(ranOn, caller);
    EXPECT_TRUE(chained.isReady());
    EXPECT_EQ(chained.get(), 21);
}

TEST(FutureTest, ContinuationOnPendingStateRunsOnTheResolvingThread) {
    Promise<int> promise;
    std::thread::id ranOn;
    auto chained = promise.getFuture().then([&](Future<int> f) {
        ranOn = std::this_thread::get_id();
        return std::to_string(f.get());
    });
    EXPECT_FALSE(chained.isReady());
    std::thread::id resolver;
    std::thread producer([&] {
        resolver = std::this_thread::get_id();
        promise.setValue(9);
    });
    producer.join();
    EXPECT_EQ(ranOn, resolver);
    EXPECT_EQ(chained.get(), "9");

    // An error of the source, and an exception of the continuation itself, reach the chain.
    auto fromSource =
        makeErrorFuture<int>(std::logic_error("source failed")).then([](Future<int> f) {
            return f.get() * 2;
        });
    EXPECT_EQ(errorText([&] { (void)fromSource.get(); }), "source failed");
    auto fromContinuation = makeReadyFuture(1).then(
        [](Future<int>) -> int { throw std::out_of_range("continuation failed"); });
    EXPECT_THROW((void)fromContinuation.get(), std::out_of_range);
}

// `then` and `setValue` on two threads released together, many times, one of them held back a
// little longer from round to round so that every interleaving comes up: the continuation runs
// exactly once, with the value, by the time both calls have returned.
TEST(FutureTest, ThenRacingSetValueRunsTheContinuationOnceWithTheValue) {
    constexpr int ROUNDS = 4000;
    std::vector<Promise<int>> promises(ROUNDS);
    std::vector<Future<int>> sources, chained(ROUNDS);
    for (Promise<int>& promise : promises) sources.push_back(promise.getFuture());
    std::vector<std::atomic<int>> runs(ROUNDS);
    std::atomic<int> released{-1};
    auto holdBack = [](int round, bool mine) {
        for (volatile int spin = 0; mine && spin < round % 500; spin = spin + 1) {
        }
    };
    std::thread producer([&] {
        for (int round = 0; round < ROUNDS; ++round) {
            while (released.load() < round) {
            }
            holdBack(round, round % 2 == 0);
            promises[round].setValue(int(round));
        }
    });
    for (int round = 0; round < ROUNDS; ++round) {
        released.store(round);
        holdBack(round, round % 2 == 1);
        chained[round] = sources[round].then([&runs, round](Future<int> f) {
            ++runs[round];
            return f.get();
        });
    }
    producer.join();
    for (int round = 0; round < ROUNDS; ++round) {
        ASSERT_TRUE(chained[round].isReady()) << "round " << round;
        ASSERT_EQ(chained[round].get(), round);
        ASSERT_EQ(runs[round].load(), 1) << "round " << round;
    }
}

TEST(FutureTest, CancelledAndAbandonedStatesNeverLeaveAWaiterBlocked) {
    Promise<int> cancelled;
    auto future = cancelled.getFuture();
    bool ran = false;
    auto chained = future.then([&](Future<int> f) {
        ran = true;
        return f.get();
    });
    cancelled.cancel();
    cancelled.setValue(1);  // dropped silently
    EXPECT_FALSE(ran);
    EXPECT_EQ(errorText([&] { (void)chained.get(); }), "Promise destroyed before it was resolved.");

    Promise<int> direct;
    auto directFuture = direct.getFuture();
    direct.cancel();
    EXPECT_EQ(errorText([&] { (void)directFuture.get(); }), "Future has been cancelled.");

    Future<int> orphan;
    {
        Promise<int> dropped;
        orphan = dropped.getFuture();
    }
    EXPECT_EQ(errorText([&] { (void)orphan.get(); }), "Promise destroyed before it was resolved.");

    // Assigning over a pending promise abandons its state as destruction does; the promise
    // then owns the other state, which it still resolves, or abandons in turn.
    Promise<int> target, source;
    Future<int> overwritten = target.getFuture(), moved = source.getFuture();
    target = std::move(source);
    ASSERT_TRUE(overwritten.isReady());  // else get would wait for ever
    EXPECT_EQ(errorText([&] { (void)overwritten.get(); }),
              "Promise destroyed before it was resolved.");
    target.setValue(4);
    EXPECT_EQ(moved.get(), 4);

    Future<int> pending;
    {
        Promise<int> settled, fresh;
        settled.setValue(1);
        pending = fresh.getFuture();
        settled = std::move(fresh);
    }
    ASSERT_TRUE(pending.isReady());
    EXPECT_EQ(errorText([&] { (void)pending.get(); }), "Promise destroyed before it was resolved.");
}

}  // namespace
