// What the plug-in relies on from the framework around it: connector::Future / Promise (fixed
// misuse texts, values and errors across threads, continuations, run once also when installed
// while the value arrives, cancellation, and promises abandoned by destruction or by being
// assigned over); context state read and written from several threads, and the JSON
// serializer's registry; sessions, and the current context of a thread. Delivery to a
// provider's handle is driven across the library boundary (SharedLibraryBoundaryTest), the
// router's delivery of a batch onward through the client-type service (ClientTypeServiceTest).
#include <Poco/JSON/Object.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "../support/Outcomes.hpp"
#include "connector/framework/Context.hpp"
#include "connector/framework/CurrentContextState.hpp"
#include "connector/framework/Future.hpp"
#include "connector/framework/HttpSessionManager.hpp"
#include "connector/framework/JsonSerializer.hpp"
#include "connector/information/v1/InformationTypes.hpp"

namespace {

using connector::Context;
using connector::Future;
using connector::makeErrorFuture;
using connector::makeReadyFuture;
using connector::Message;
using connector::Promise;
using connector::common::ContextScope;
using testsupport::errorText;

const auto passOn = [](Future<int> future) { return future.get(); };

TEST(FutureTest, MisuseIsReportedWithFixedTextsAndTheFirstResultStays) {
    const char* const invalid = "Future state isn't valid!";
    const char* const resolved = "Promise already resolved.";
    Promise<int> promise, twice;
    Future<int> future = promise.getFuture(), source = twice.getFuture();
    promise.setValue(1);
    Future<int> first = source.then(passOn), chained = makeReadyFuture(5).then(passOn);
    Future<int> moved = std::move(chained);
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
    for (const auto& [misuse, text] : misuses) EXPECT_EQ(errorText(misuse), text);
    EXPECT_FALSE(future.isValid());  // then consumes the future even when the state refuses
    EXPECT_EQ(moved.get(), 5);
    twice.setValue(3);
    EXPECT_EQ(first.get(), 3);
}

// The value or the error, of the type stored, reaches a waiter on another thread, and a
// continuation (the race below has it run by the resolving thread). A continuation's own
// exception fails the chained future.
TEST(FutureTest, ValuesAndErrorsReachWaitersAndContinuationsUnchanged) {
    for (bool fail : {false, true}) {
        Promise<std::unique_ptr<int>> promise;
        auto future = promise.getFuture();
        std::thread producer([&] {
            if (fail) promise.setException(std::make_exception_ptr(std::invalid_argument("bad")));
            if (!fail) promise.setValue(std::make_unique<int>(7));
        });
        EXPECT_EQ(errorText([&] { EXPECT_EQ(*future.get(), 7); }), fail ? "bad" : "<no error>");
        producer.join();
    }
    EXPECT_THROW((void)makeErrorFuture<int>(std::invalid_argument("x")).then(passOn).get(),
                 std::invalid_argument);
    auto thrown = makeReadyFuture(1).then([](Future<int>) -> int { throw std::out_of_range("x"); });
    EXPECT_THROW((void)thrown.get(), std::out_of_range);
}

// `then` and `setValue` on two threads that meet before each round, one of them held back a
// little longer, by turns and by a growing amount, so that every interleaving comes up: the
// continuation runs exactly once, with the value, by the time both calls have returned.
TEST(FutureTest, ThenRacingSetValueRunsTheContinuationOnceWithTheValue) {
    constexpr int ROUNDS = 4000;
    std::vector<Promise<int>> promises(ROUNDS);
    std::vector<Future<int>> chained(ROUNDS);
    std::atomic<int> arrived{0}, runs{0};
    auto meet = [&](int round, bool holdBack) {  // each waits for the other: both leave at once
        ++arrived;
        while (arrived.load() < 2 * round + 2) continue;
        for (volatile int spin = 0; holdBack && spin < round % 200; spin = spin + 1) continue;
    };
    std::thread producer([&] {
        for (int round = 0; round < ROUNDS; ++round)
            meet(round, round % 2 == 0), promises[round].setValue(int(round));
    });
    for (int round = 0; round < ROUNDS; ++round) {
        Future<int> source = promises[round].getFuture();
        meet(round, round % 2 == 1);
        chained[round] = source.then([&runs](Future<int> f) { return ++runs, f.get(); });
    }
    producer.join();
    EXPECT_EQ(runs.load(), ROUNDS);  // with every chained future ready below: each ran once
    for (int round = 0; round < ROUNDS; ++round)
        ASSERT_TRUE(chained[round].isReady() && chained[round].get() == round) << round;
}

// A cancelled state drops its continuation and a later value; a promise destroyed, or assigned
// over, while its state is pending breaks it; the promise then owns the other state, which it
// still resolves, or abandons in turn. A promise that settled its own state leaves it alone.
TEST(FutureTest, CancelledAndAbandonedStatesNeverLeaveAWaiterBlocked) {
    const std::string broken = "Promise destroyed before it was resolved.";
    Promise<int> cancelled, direct, target, source;
    bool ran = false;
    auto chained = cancelled.getFuture().then([&](Future<int> f) { return ran = true, f.get(); });
    Future<int> directFuture = direct.getFuture(), orphan, pending;
    cancelled.cancel();
    direct.cancel();
    cancelled.setValue(1);  // dropped silently
    EXPECT_FALSE(ran);
    EXPECT_EQ(errorText([&] { (void)chained.get(); }), broken);
    EXPECT_EQ(errorText([&] { (void)directFuture.get(); }), "Future has been cancelled.");
    orphan = Promise<int>().getFuture();  // the promise is gone before the wait begins
    EXPECT_EQ(errorText([&] { (void)orphan.get(); }), broken);

    Future<int> overwritten = target.getFuture(), moved = source.getFuture();
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

struct Receipt : Message {};

// Two threads write a context entry while two read it, over and over: no reader sees a
// half-written value. The serializer's registry gives a type withdrawn no longer.
TEST(FrameworkContractTest, ContextStateAndSerializerRegistryStayConsistent) {
    Context state;
    state.set("home", std::string(64, 'a'), ContextScope::Session);
    EXPECT_FALSE(state.scopeOf("absent"));
    EXPECT_THROW(state.get("absent"), std::out_of_range);
    std::atomic<int> torn{0};
    std::vector<std::thread> threads;
    for (int role = 0; role < 4; ++role) {
        threads.emplace_back([&, role] {
            for (int i = 0; i < 2000; ++i) {
                if (role < 2)
                    state.set("home", std::string(64 + i % 7, role ? 'b' : 'c'),
                              ContextScope::Request);
                if (role < 2) continue;
                auto text = boost::any_cast<std::string>(state.get("home"));
                torn += text.find_first_not_of(text[0]) != std::string::npos;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(torn, 0);
    EXPECT_TRUE(state.scopeOf("home") == ContextScope::Request);

    connector::json::JsonSerializer serializer;
    std::unique_ptr<Message> receipt = std::make_unique<Receipt>();
    serializer.unregisterType(typeid(Receipt));  // never registered: nothing happens
    serializer.registerType(
        "connector/v1/Receipt", typeid(Receipt),
        [](const std::unique_ptr<Message>&) { return Poco::JSON::Object::Ptr(); },
        [](Poco::JSON::Object::Ptr) { return std::unique_ptr<Message>(); });
    EXPECT_EQ(serializer.serialize(receipt).typeName, "connector/v1/Receipt");
    serializer.unregisterType(typeid(Receipt));
    EXPECT_FALSE(serializer.isRegistered("connector/v1/Receipt"));
    EXPECT_THROW((void)serializer.serialize(receipt), std::invalid_argument);
    EXPECT_THROW((void)serializer.deserialize("connector/v1/Receipt", nullptr),
                 std::invalid_argument);

    // The client properties the plug-in stores count against a session's memory by their
    // entries, not as a fixed allowance: its table type is the one the state accounts.
    connector::information::v1::StringTable properties;
    state.set("clientProperties", properties, ContextScope::Session);
    const std::size_t empty = state.approximateBytes();
    for (int i = 0; i < 100; ++i)
        properties["property" + std::to_string(i)] = std::string(200, 'v');
    state.set("clientProperties", properties, ContextScope::Session);
    EXPECT_GE(state.approximateBytes(), empty + 100 * 200);
}

TEST(FrameworkContractTest, SessionsAndTheCurrentContextOfAThread) {
    using namespace connector::qvm_common;
    connector::http::HttpSessionManager sessions;
    EXPECT_EQ(sessions.lastUsedSessionState(), nullptr);
    auto first = sessions.useSession("a"), second = sessions.useSession("b");
    EXPECT_EQ(sessions.lastUsedSessionState(), second);
    EXPECT_EQ(sessions.useSession("a"), first);
    EXPECT_EQ(sessions.lastUsedSessionState(), first);
    EXPECT_EQ(sessions.sessionCount(), 2u);
    // Scopes nest, and each thread has its own current context.
    auto outer = std::make_unique<CurrentContextStateScope>(first);
    auto inner = std::make_unique<CurrentContextStateScope>(second);
    EXPECT_EQ(getCurrentContextState(), second);
    std::thread([] { EXPECT_EQ(getCurrentContextState(), nullptr); }).join();
    inner.reset();
    EXPECT_EQ(getCurrentContextState(), first);
    outer.reset();
    EXPECT_EQ(getCurrentContextState(), nullptr);
}

}  // namespace
