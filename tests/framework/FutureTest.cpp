#include "connector/framework/Future.hpp"

#include <gtest/gtest.h>

#include "../support/ErrorText.hpp"

#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

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
}

}  // namespace
