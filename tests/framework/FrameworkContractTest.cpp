// What the plug-in relies on from the framework around it: context state read and written from
// several threads, the JSON serializer's registry under concurrent use (encoding, decoding and
// withdrawal are driven by the codec and registration suites), the router's delivery of a batch
// and gathering of its answers, sessions, and the current context of a thread.
#include <Poco/JSON/Object.h>
#include <gtest/gtest.h>

#include "../support/ErrorText.hpp"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "connector/framework/ContainerMessages.hpp"
#include "connector/framework/Context.hpp"
#include "connector/framework/CurrentContextState.hpp"
#include "connector/framework/HttpSessionManager.hpp"
#include "connector/framework/JsonSerializer.hpp"
#include "connector/framework/MessageRouter.hpp"
#include "connector/information/v1/InformationTypes.hpp"

namespace {

using connector::Address;
using connector::Context;
using connector::Future;
using connector::Message;
using connector::common::ContextScope;
using connector::container::v1::ContainerRequest;
using connector::container::v1::ContainerResponse;

struct Note : Message {
    explicit Note(std::string t = {}) : text(std::move(t)) {}
    std::string text;
};
struct NoteReceipt : Message {};

using testsupport::errorOf;

TEST(ContextStateTest, ReadersNeverSeeAHalfWrittenValueUnderConcurrentWrites) {
    Context state;
    state.set("home", std::string(64, 'a'), ContextScope::Session);
    EXPECT_TRUE(state.scopeOf("home") == ContextScope::Session);
    EXPECT_FALSE(state.scopeOf("absent"));
    EXPECT_THROW(state.get("absent"), std::out_of_range);

    std::atomic<bool> torn{false};
    std::vector<std::thread> threads;
    for (int writer = 0; writer < 2; ++writer) {
        threads.emplace_back([&, writer] {
            for (int i = 0; i < 2000; ++i)
                state.set("home", std::string(64 + i % 7, writer ? 'b' : 'c'),
                          ContextScope::Request);
        });
    }
    for (int reader = 0; reader < 2; ++reader) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                auto text = boost::any_cast<std::string>(state.get("home"));
                if (text.find_first_not_of(text[0]) != std::string::npos) torn = true;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_FALSE(torn);
    EXPECT_TRUE(state.scopeOf("home") == ContextScope::Request);
}

// The client properties the plug-in stores count against a session's memory by their entries, not
// as a fixed allowance: its table type is the one the state accounts.
TEST(ContextStateTest, TheClientPropertiesTableIsAccountedByItsEntries) {
    Context empty;
    empty.set("clientProperties", connector::information::v1::StringTable(), ContextScope::Session);
    connector::information::v1::StringTable properties;
    for (int i = 0; i < 100; ++i)
        properties["property" + std::to_string(i)] = std::string(200, 'v');
    Context full;
    full.set("clientProperties", properties, ContextScope::Session);
    EXPECT_GE(full.approximateBytes(), empty.approximateBytes() + 100 * 200);
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
    auto none = [](const std::unique_ptr<Message>&) { return Poco::JSON::Object::Ptr(); };
    auto noDecode = [](Poco::JSON::Object::Ptr) { return std::unique_ptr<Message>(); };
    names->registerType("connector/v1/NoteReceipt", typeid(NoteReceipt), none, noDecode);
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
    auto answer = context->handle<Message, ContainerRequest>(std::move(batch), Address()).get();
    auto* response = dynamic_cast<ContainerResponse*>(answer.get());
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(seen, (std::vector<std::string>{"one", "two"}));
    ASSERT_EQ(response->messages.size(), 1u);
    EXPECT_EQ(response->messages.at("NoteReceipt").size(), 2u);

    auto unknown = std::make_unique<ContainerRequest>();
    unknown->messages["Nothing"].push_back(std::make_unique<Note>());
    EXPECT_EQ(errorOf(context->handle<Message, ContainerRequest>(std::move(unknown), Address())),
              "No service provider for message type connector/v1/Nothing");

    auto orphanContext = std::make_shared<Context>();
    EXPECT_EQ(errorOf(orphanContext->handle<Message, ContainerRequest>(
                  std::make_unique<ContainerRequest>(), Address())),
              "No router to send the batch onward.");
}

TEST(FrameworkContractTest, SessionsAndTheCurrentContextOfAThread) {
    connector::http::HttpSessionManager sessions;
    EXPECT_EQ(sessions.lastUsedSessionState(), nullptr);
    auto first = sessions.useSession("a");
    auto second = sessions.useSession("b");
    EXPECT_EQ(sessions.lastUsedSessionState(), second);
    EXPECT_EQ(sessions.useSession("a"), first);
    EXPECT_EQ(sessions.lastUsedSessionState(), first);
    EXPECT_EQ(sessions.sessionCount(), 2u);

    EXPECT_EQ(connector::qvm_common::getCurrentContextState(), nullptr);
    {
        connector::qvm_common::CurrentContextStateScope outer(first);
        {
            connector::qvm_common::CurrentContextStateScope inner(second);
            EXPECT_EQ(connector::qvm_common::getCurrentContextState(), second);
            std::thread([] {
                EXPECT_EQ(connector::qvm_common::getCurrentContextState(), nullptr);
            }).join();
        }
        EXPECT_EQ(connector::qvm_common::getCurrentContextState(), first);
    }
    EXPECT_EQ(connector::qvm_common::getCurrentContextState(), nullptr);
}

}  // namespace
