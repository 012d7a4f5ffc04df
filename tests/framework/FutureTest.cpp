// connector::Future / Promise: fixed misuse texts, values and errors across threads,
// continuations (where they run, exactly once, also when installed while the value arrives),
// cancellation, and promises abandoned by destruction or by being assigned over.
#include "connector/framework/Future.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "../support/Outcomes.hpp"

namespace {

using connector::Future;
using connector::makeErrorFuture;
using connector::makeReadyFuture;
using connector::Promise;
using testsupport::errorText;

int passOn(Future<int> future) {
    return future.get();
}

TEST(FutureTest, MisuseIsReportedWithFixedTextsAndTheFirstResultStays) {
    const char* const invalid = "Future state isn't valid!";
    const char* const resolved = "Promise already resolved.";
    Promise<int> promise, twice;
    Future<int> future = promise.getFuture(), source = twice.getFuture(), moved;
    promise.setValue(1);
    Future<int> first = source.then(passOn);
    Future<int> chained = makeReadyFuture(5).then(passOn);
    moved = std::move(chained);
    const std::vector<std::pair<std::function<void()>, const char*>> misuses = {
        {[&] { (void)promise.getFuture(); }, "Promise already returned a future."},
        {[&] { promise.setValue(2); }, resolved},
        {[&] { promise.setException(std::make_exception_ptr(std::exception())); }, resolved},
        {[&] { EXPECT_EQ(future.get(), 1); }, "<no error>"},
        {[&] { (void)future.get(); },
         "Future already returned it's value or has an associated continuation."},
        {[&] { EXPECT_TRUE(future.isValid()); }, "<no error>"},  // get leaves it valid
        {[&] { (void)future.then(passOn); },
         "Future already has returned it's value or has an associated continuation."},
        {[&] { (void)chained.get(); }, invalid},
        {[&] { (void)chained.then(passOn); }, invalid},
        {[&] { (void)Future<int>().get(); }, invalid},
        {[&] { (void)source.then(passOn); }, invalid},
    };
    for (const auto& [misuse, text] : misuses) {
        SCOPED_TRACE(text);
        EXPECT_EQ(errorText(misuse), text);
    }
    EXPECT_FALSE(future.isValid());  // then consumes the future even when the state refuses
    EXPECT_EQ(moved.get(), 5);
    twice.setValue(3);
    EXPECT_EQ(first.get(), 3);
}

// The value or the error, of the type stored, reaches a waiter on another thread and a
// continuation: on the calling thread before then returns when already resolved, else on the
// resolving thread. A continuation's own exception fails the chained future.
TEST(FutureTest, ValuesAndErrorsReachWaitersAndContinuationsUnchanged) {
    for (bool fail : {false, true}) {
        SCOPED_TRACE(fail ? "error" : "value");
        Promise<std::unique_ptr<int>> promise;
        auto future = promise.getFuture();
        std::thread producer([&] {
            if (fail)
                promise.setException(std::make_exception_ptr(std::invalid_argument("bad input")));
            else
                promise.setValue(std::make_unique<int>(7));
        });
        EXPECT_EQ(errorText([&] { EXPECT_EQ(*future.get(), 7); }),
                  fail ? "bad input" : "<no error>");
        producer.join();
    }
    EXPECT_THROW((void)makeErrorFuture<int>(std::invalid_argument("x")).get(),
                 std::invalid_argument);
    EXPECT_TRUE(makeErrorFuture<int>(std::invalid_argument("x")).isReady());

    std::thread::id ranOn;
    auto record = [&](Future<int> f) {
        ranOn = std::this_thread::get_id();
        return std::to_string(f.get() + 1);
    };
    auto ready = makeReadyFuture(20).then(record);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(ready.isReady());
    EXPECT_EQ(ready.get(), "21");

    Promise<int> promise;
    auto pending = promise.getFuture().then(record);
    EXPECT_FALSE(pending.isReady());
    std::thread::id resolver;
    std::thread([&] {
        resolver = std::this_thread::get_id();
        promise.setValue(8);
    }).join();
    EXPECT_EQ(ranOn, resolver);
    EXPECT_EQ(pending.get(), "9");

    auto fromSource = makeErrorFuture<int>(std::logic_error("source failed")).then(passOn);
    EXPECT_THROW((void)fromSource.get(), std::logic_error);
    auto fromContinuation = makeReadyFuture(1).then(
        [](Future<int>) -> int { throw std::out_of_range("continuation failed"); });
    EXPECT_EQ(errorText([&] { (void)fromContinuation.get(); }), "continuation failed");
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
    const std::string broken = "Promise destroyed before it was resolved.";
    Promise<int> cancelled, direct;
    bool ran = false;
    auto chained = cancelled.getFuture().then([&](Future<int> f) {
        ran = true;
        return f.get();
    });
    auto directFuture = direct.getFuture();
    cancelled.cancel();
    direct.cancel();
    cancelled.setValue(1);  // dropped silently
    EXPECT_FALSE(ran);
    EXPECT_EQ(errorText([&] { (void)chained.get(); }), broken);
    EXPECT_EQ(errorText([&] { (void)directFuture.get(); }), "Future has been cancelled.");

    Future<int> orphan;
    {
        Promise<int> dropped;
        orphan = dropped.getFuture();
    }
    EXPECT_EQ(errorText([&] { (void)orphan.get(); }), broken);

    // Assigning over a pending promise abandons its state as destruction does; the promise
    // then owns the other state, which it still resolves, or abandons in turn. A promise that
    // settled its own state leaves it alone.
    Promise<int> target, source;
    Future<int> overwritten = target.getFuture(), moved = source.getFuture(), pending;
    target = std::move(source);
    ASSERT_TRUE(overwritten.isReady());  // else get would wait for ever
    EXPECT_EQ(errorText([&] { (void)overwritten.get(); }), broken);
    target.setValue(4);
    EXPECT_EQ(moved.get(), 4);
    {
        Promise<int> settled, fresh;
        settled.setValue(1);
        pending = fresh.getFuture();
        settled = std::move(fresh);
    }
    ASSERT_TRUE(pending.isReady());
    EXPECT_EQ(errorText([&] { (void)pending.get(); }), broken);
}

}  // namespace
