// What the plug-in relies on from the framework around it: delivery of a message to its
// provider's handle (ownership, sender and context handed over; stopped providers, foreign
// messages and unowned providers refused), context state read and written from several threads,
// the JSON serializer's registry under concurrent use, the router's delivery of a batch and
// gathering of its answers, sessions, and the current context of a thread.
#include <Poco/JSON/Object.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "../support/Outcomes.hpp"
#include "connector/framework/CurrentContextState.hpp"
#include "connector/framework/HttpSessionManager.hpp"
#include "connector/framework/JsonSerializer.hpp"
#include "connector/framework/MessageRouter.hpp"
#include "connector/framework/ServiceProviderAPI.hpp"
#include "connector/information/v1/InformationTypes.hpp"

namespace {

using connector::Address;
using connector::Context;
using connector::Future;
using connector::Message;
using connector::common::ContextScope;
using connector::container::v1::ContainerRequest;
using connector::container::v1::ContainerResponse;
using testsupport::errorOf;

struct Note : Message {
    explicit Note(std::string t = {}) : text(std::move(t)) {}
    std::string text;
};
struct NoteReceipt : Message {};

class Echo;
struct Ping : connector::MessageAPI<Ping, Echo> {
    std::string text;
};
struct Shout : connector::MessageAPI<Shout, Echo> {};

class Echo : public connector::ServiceProviderAPI<Echo> {
  public:
    Future<std::unique_ptr<Message>> handle(std::unique_ptr<Ping>&& ping, Address&& from,
                                            std::shared_ptr<Context>&& context) {
        kept = std::move(ping);  // takes ownership
        sender = from.sender();
        receivedContext = context;
        return connector::makeReadyFuture(std::unique_ptr<Message>(new Note(kept->text)));
    }
    Future<std::unique_ptr<Message>> handle(std::unique_ptr<Shout>&&, Address&&,
                                            std::shared_ptr<Context>&&) {
        throw std::domain_error("shouting is not allowed");
    }

    std::unique_ptr<Ping> kept;
    std::string sender;
    std::shared_ptr<Context> receivedContext;
};

TEST(DeliveryTest, AMessageReachesItsHandleWithOwnershipSenderAndContext) {
    auto echo = std::make_shared<Echo>();
    echo->setRunning(true);
    auto ping = std::make_unique<Ping>();
    ping->text = "hello";
    Message* sent = ping.get();
    auto context = std::make_shared<Context>();
    auto answer = echo->deliver(std::move(ping), Address("client-1"), std::shared_ptr(context));
    EXPECT_EQ(testsupport::answerAs<Note>(answer.get())->text, "hello");
    EXPECT_EQ(echo->kept.get(), sent);
    EXPECT_EQ(echo->sender, "client-1");
    EXPECT_EQ(echo->receivedContext, context);
}

TEST(DeliveryTest, RefusalsAreErrorFuturesAndHandlerErrorsPassThrough) {
    auto echo = std::make_shared<Echo>();
    std::unique_ptr<Message> ping = std::make_unique<Ping>();
    auto stopped = echo->deliver(std::move(ping), Address(), nullptr);
    EXPECT_NE(ping, nullptr);  // the message stays with the caller
    EXPECT_THROW((void)stopped.get(), std::runtime_error);
    EXPECT_EQ(errorOf(echo->deliver(std::make_unique<Note>(), Address(), nullptr)),
              "Service exists but is not running.");

    echo->setRunning(true);
    EXPECT_THROW((void)echo->deliver(std::make_unique<Note>(), Address(), nullptr).get(),
                 std::invalid_argument);
    const std::string expected =
        "Incorrect message type. Expected: connector::ServiceMessage<(anonymous namespace)::Echo> "
        "but found ";
    EXPECT_EQ(errorOf(echo->deliver(std::make_unique<Note>(), Address(), nullptr)),
              expected + "(anonymous namespace)::Note");
    EXPECT_EQ(errorOf(echo->deliver(nullptr, Address(), nullptr)), expected + "nullptr");
    Ping target;  // handed another object than itself
    EXPECT_EQ(errorOf(target.deliverTo(echo, std::make_unique<Shout>(), Address(), nullptr)),
              "Unable to deliver to service. Incorrect message type. Expected: (anonymous "
              "namespace)::Ping but found (anonymous namespace)::Shout");
    EXPECT_EQ(echo->kept, nullptr);

    EXPECT_THROW((void)echo->deliver(std::make_unique<Shout>(), Address(), nullptr),
                 std::domain_error);
    Echo unowned;
    unowned.setRunning(true);
    EXPECT_THROW((void)unowned.deliver(std::make_unique<Ping>(), Address(), nullptr),
                 std::bad_weak_ptr);
}

TEST(ContextStateTest, ReadersNeverSeeAHalfWrittenValueUnderConcurrentWrites) {
    Context state;
    state.set("home", std::string(64, 'a'), ContextScope::Session);
    EXPECT_TRUE(state.scopeOf("home") == ContextScope::Session);
    EXPECT_FALSE(state.scopeOf("absent"));
    EXPECT_THROW(state.get("absent"), std::out_of_range);

    std::atomic<bool> torn{false};
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([&, thread] {
            for (int i = 0; i < 2000; ++i) {
                if (thread < 2) {
                    state.set("home", std::string(64 + i % 7, thread ? 'b' : 'c'),
                              ContextScope::Request);
                    continue;
                }
                auto text = boost::any_cast<std::string>(state.get("home"));
                if (text.find_first_not_of(text[0]) != std::string::npos) torn = true;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_FALSE(torn);
    EXPECT_TRUE(state.scopeOf("home") == ContextScope::Request);

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

TEST(JsonSerializerTest, RegistryStaysConsistentUnderConcurrentUse) {
    connector::json::JsonSerializer serializer;
    auto codec = [](const std::unique_ptr<Message>&) {
        return Poco::JSON::Object::Ptr(new Poco::JSON::Object(0));
    };
    auto decoder = [](Poco::JSON::Object::Ptr) -> std::unique_ptr<Message> {
        return std::make_unique<Note>();
    };
    serializer.registerType("connector/v1/Note", typeid(Note), codec, decoder);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (int i = 0; i < 2000; ++i) {
            serializer.unregisterType(typeid(NoteReceipt));
            serializer.registerType("connector/v1/NoteReceipt", typeid(NoteReceipt), codec,
                                    decoder);
        }
    });
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&] {
            std::unique_ptr<Message> note = std::make_unique<Note>();
            for (int i = 0; i < 2000; ++i) {
                if (serializer.serialize(note).typeName != "connector/v1/Note") ++failures;
                if (!serializer.deserialize("connector/v1/Note", nullptr)) ++failures;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures, 0);
    EXPECT_TRUE(serializer.isRegistered("connector/v1/NoteReceipt"));
}

TEST(MessageRouterTest, BatchIsDeliveredOnwardAndAnswersGatheredByShortName) {
    auto names = std::make_shared<connector::json::JsonSerializer>();
    names->registerType(
        "connector/v1/NoteReceipt", typeid(NoteReceipt),
        [](const std::unique_ptr<Message>&) { return Poco::JSON::Object::Ptr(); },
        [](Poco::JSON::Object::Ptr) { return std::unique_ptr<Message>(); });
    auto router = std::make_shared<connector::MessageRouter>(names);
    std::vector<std::string> seen;
    router->addRoute("connector/v1/Note", [&](std::unique_ptr<Message>&& m, Address&&,
                                              std::shared_ptr<Context>&& context) {
        seen.push_back(static_cast<Note&>(*m).text);
        EXPECT_NE(context, nullptr);
        return connector::makeReadyFuture(std::unique_ptr<Message>(new NoteReceipt()));
    });

    connector::http::HttpSessionManager sessions(router);
    auto context = sessions.useSession("s1");
    auto batch = std::make_unique<ContainerRequest>();
    batch->messages["Note"].push_back(std::make_unique<Note>("one"));
    batch->messages["Note"].push_back(std::make_unique<Note>("two"));
    auto response = testsupport::answerAs<ContainerResponse>(
        context->handle<Message, ContainerRequest>(std::move(batch), Address()).get());
    EXPECT_EQ(seen, (std::vector<std::string>{"one", "two"}));
    ASSERT_EQ(response->messages.size(), 1u);
    EXPECT_EQ(response->messages.at("NoteReceipt").size(), 2u);

    auto unknown = std::make_unique<ContainerRequest>();
    unknown->messages["Nothing"].push_back(std::make_unique<Note>());
    EXPECT_EQ(errorOf(context->handle<Message, ContainerRequest>(std::move(unknown), Address())),
              "No service provider for message type connector/v1/Nothing");
    EXPECT_EQ(errorOf(std::make_shared<Context>()->handle<Message, ContainerRequest>(
                  std::make_unique<ContainerRequest>(), Address())),
              "No router to send the batch onward.");
}

TEST(FrameworkContractTest, SessionsAndTheCurrentContextOfAThread) {
    using connector::qvm_common::getCurrentContextState;
    connector::http::HttpSessionManager sessions;
    EXPECT_EQ(sessions.lastUsedSessionState(), nullptr);
    auto first = sessions.useSession("a");
    auto second = sessions.useSession("b");
    EXPECT_EQ(sessions.lastUsedSessionState(), second);
    EXPECT_EQ(sessions.useSession("a"), first);
    EXPECT_EQ(sessions.lastUsedSessionState(), first);
    EXPECT_EQ(sessions.sessionCount(), 2u);

    EXPECT_EQ(getCurrentContextState(), nullptr);
    {
        connector::qvm_common::CurrentContextStateScope outer(first);
        {
            connector::qvm_common::CurrentContextStateScope inner(second);
            EXPECT_EQ(getCurrentContextState(), second);
            std::thread([] { EXPECT_EQ(getCurrentContextState(), nullptr); }).join();
        }
        EXPECT_EQ(getCurrentContextState(), first);
    }
    EXPECT_EQ(getCurrentContextState(), nullptr);
}

}  // namespace
