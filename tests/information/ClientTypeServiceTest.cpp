// The client-type service: how it works out a client's full type, what it records in the
// client's context, what it takes out of a batch before sending the rest onward, and what it
// answers for every kind of onward answer or error.
#include <gtest/gtest.h>

#include <cstdlib>

#include "../support/ErrorText.hpp"
#include "../support/LogCapture.hpp"
#include "connector/framework/CurrentContextState.hpp"
#include "connector/framework/HttpSessionManager.hpp"
#include "connector/framework/MessageRouter.hpp"
#include "connector/information/v1/ClientType.hpp"
#include "connector/information/v1/ClientTypeResponse.hpp"
#include "connector/information/v1/ClientTypeServiceProvider.hpp"
#include "connector/information/v1/ContextKeys.hpp"
#include "connector/information/v1/GetCurrentClientProperties.hpp"
#include "connector/information/v1/GetCurrentClientPropertiesResponse.hpp"
#include "connector/information/v1/GetUserHomeDir.hpp"
#include "connector/information/v1/GetUserHomeDirResponse.hpp"
#include "connector/information/v1/InformationJsonSerialization.hpp"
#include "connector/information/v1/InformationServiceProviderImpl.hpp"

namespace {

using namespace connector::information::v1;
using connector::Address;
using connector::Context;
using connector::Message;
using connector::common::ContextScope;
using connector::container::v1::ContainerRequest;
using connector::container::v1::ContainerResponse;
using Provider = ClientTypeServiceProvider;

const char* const HOSTING_VARIABLE = "QUORIX_CONNECTOR_HOSTING_ENVIRONMENT";

class HostingVariable {
  public:
    explicit HostingVariable(const char* value) {
        if (value)
            setenv(HOSTING_VARIABLE, value, 1);
        else
            unsetenv(HOSTING_VARIABLE);
    }
    ~HostingVariable() { unsetenv(HOSTING_VARIABLE); }
};

TEST(ClientTypeResolutionTest, LoopbackOriginsAnywhereInTheEndpointMakeAClientLocal) {
    HostingVariable unset(nullptr);
    const char* const origins[] = {
        "http://localhost",  "http://127.0.0.1",  "http://::1",  "http://0:0:0:0:0:ffff:7f00:1",
        "https://localhost", "https://127.0.0.1", "https://::1", "https://0:0:0:0:0:ffff:7f00:1"};
    for (const char* origin : origins) {
        SCOPED_TRACE(origin);
        EXPECT_EQ(Provider::getClientTypeWithSuffixes("jsd", std::string(origin) + ":31515/index"),
                  "jsd_lcl_nkv");
        EXPECT_EQ(Provider::getClientTypeWithSuffixes("jsd", std::string("ws+") + origin),
                  "jsd_lcl_nkv");
    }
    const char* const remote[] = {
        "",          "http://LOCALHOST:31515", "http://[::1]:31515", "http://192.168.1.4",
        "localhost", "http//127.0.0.1"};
    for (const char* endpoint : remote) {
        SCOPED_TRACE(endpoint);
        EXPECT_EQ(Provider::getClientTypeWithSuffixes("jsd", endpoint), "jsd_rmt_nkv");
    }
    EXPECT_EQ(Provider::getClientTypeWithSuffixes("jsd_lcl_nkv", ""), "jsd_lcl_nkv");
    EXPECT_EQ(Provider::getClientTypeWithSuffixes("my_type", "http://localhost"), "my_type");
    EXPECT_EQ(Provider::getClientTypeWithSuffixes("", "http://localhost"), "");
}

TEST(ClientTypeResolutionTest, HostingVariableIsReadOnEveryCall) {
    const std::pair<const char*, const char*> cases[] = {
        {nullptr, "_nkv"}, {"tkv", "_tkv"}, {"TKV", "_tkv"}, {"tKv", "_tkv"},
        {"tkv ", "_nkv"},  {"", "_nkv"},    {"nkv", "_nkv"}, {"tk", "_nkv"}};
    for (const auto& [value, suffix] : cases) {
        SCOPED_TRACE(value ? value : "<unset>");
        HostingVariable variable(value);
        EXPECT_EQ(Provider::getClientHostingEnvironmentSuffix(), suffix);
        EXPECT_EQ(Provider::getClientTypeWithSuffixes("jsd", "http://localhost:1"),
                  std::string("jsd_lcl") + suffix);
    }
}

TEST(ClientTypeResolutionTest, BaseTypeAndJsdRecognition) {
    auto typeOf = [](StringTable properties) {
        return Provider::getClientType(ClientType("u", properties));
    };
    EXPECT_EQ(typeOf({{"TYPE", ""}, {"type", "jsd"}}), "");
    EXPECT_EQ(typeOf({{"TYPE", "ml"}, {"type", "jsd"}}), "ml");
    EXPECT_EQ(typeOf({{"type", "jsd"}}), "jsd");
    EXPECT_EQ(typeOf({{"Type", "jsd"}}), "");

    for (const char* yes : {"jsd", "jsd_lcl_nkv", "jsd_"})
        EXPECT_TRUE(Provider::isJsdClientType(yes)) << yes;
    for (const char* no : {"jsdx", "JSD", "xjsd", "my_jsd", "js", ""})
        EXPECT_FALSE(Provider::isJsdClientType(no)) << no;
}

std::unique_ptr<ContainerRequest> batchWith(StringTable properties) {
    auto batch = std::make_unique<ContainerRequest>();
    batch->messages["ClientType"].push_back(std::make_unique<ClientType>("ct-1", properties));
    return batch;
}

// A client-type service in front of a router that serves the information service onward.
class ClientTypeRequestTest : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv(HOSTING_VARIABLE);
        serializer = std::make_shared<connector::json::JsonSerializer>();
        registration = std::make_unique<InformationJsonSerialization>(serializer);
        router = std::make_shared<connector::MessageRouter>(serializer);
        sessions = std::make_shared<connector::http::HttpSessionManager>(router);
        information = std::make_shared<InformationServiceProviderImpl>(sessions, nullptr);
        information->setRunning(true);
        clientTypes->setRunning(true);
        for (const char* type :
             {"connector/v1/GetCurrentClientProperties", "connector/v1/GetUserHomeDir"})
            router->addProvider(type, information);
        context = sessions->useSession("client");
    }

    std::unique_ptr<Message> send(std::unique_ptr<ContainerRequest> batch) {
        connector::qvm_common::CurrentContextStateScope serving(context);
        return clientTypes
            ->deliver(std::move(batch), Address("a"), std::shared_ptr<Context>(context))
            .get();
    }

    std::string text(const std::string& key) {
        return boost::any_cast<std::string>(context->get(key));
    }

    std::shared_ptr<connector::json::JsonSerializer> serializer;
    std::unique_ptr<InformationJsonSerialization> registration;
    std::shared_ptr<connector::MessageRouter> router;
    std::shared_ptr<connector::http::HttpSessionManager> sessions;
    std::shared_ptr<InformationServiceProviderImpl> information;
    std::shared_ptr<Provider> clientTypes = std::make_shared<Provider>();
    std::shared_ptr<Context> context;
};

TEST_F(ClientTypeRequestTest, ABatchWithOnlyAClientTypeRecordsTheClientAndAnswersIt) {
    testsupport::LogCapture capture;
    const StringTable sent{{"TYPE", "jsd"}, {"SERVICE_ENDPOINT", "http://127.0.0.1:31515/x"}};
    auto answer = send(batchWith(sent));

    StringTable recorded = sent;
    recorded["ORIG_CLIENT_TYPE"] = "jsd";
    recorded["TYPE"] = "jsd_lcl_nkv";
    EXPECT_EQ(text("clientType"), "jsd_lcl_nkv");
    EXPECT_EQ(text("origClientType"), "jsd");
    EXPECT_EQ(boost::any_cast<StringTable>(context->get("clientProperties")), recorded);
    // Each entry holds the type its key declares to hosts (CONTEXT_KEYS), in the session's scope.
    std::size_t written = 0;
    for (const ContextKeyInfo& key : CONTEXT_KEYS) {
        const std::string name(key.name);
        if (!context->has(name)) continue;  // the two flags are the framework's to write
        SCOPED_TRACE(name);
        ++written;
        EXPECT_TRUE(context->scopeOf(name) == ContextScope::Session);
        const std::type_info& declared = key.kind == ContextValueKind::Text   ? typeid(std::string)
                                         : key.kind == ContextValueKind::Flag ? typeid(bool)
                                                                              : typeid(StringTable);
        EXPECT_EQ(context->get(name).type(), declared);
    }
    EXPECT_EQ(written, 3u);

    auto* response = dynamic_cast<ContainerResponse*>(answer.get());
    ASSERT_NE(response, nullptr);
    ASSERT_EQ(response->messages.size(), 1u);
    ASSERT_EQ(response->messages.at("ClientTypeResponse").size(), 1u);
    auto* clientType =
        dynamic_cast<ClientTypeResponse*>(response->messages.at("ClientTypeResponse")[0].get());
    ASSERT_NE(clientType, nullptr);
    EXPECT_EQ(clientType->uuid, "ct-1");
    EXPECT_EQ(clientType->properties, recorded);
    EXPECT_TRUE(clientType->faults.empty());

    const std::vector<testsupport::LogLine> expected = {
        {8, "connector::information", "Client type request received, checking type"},
        {8, "connector::information", "Client type found: jsd_lcl_nkv"}};
    EXPECT_EQ(capture.lines(), expected);
}

TEST_F(ClientTypeRequestTest, OtherMessagesOfTheBatchGoOnwardAndSeeTheNewClientType) {
    auto batch = batchWith({{"type", "jsd"}, {"SERVICE_ENDPOINT", "https://example.org"}});
    batch->messages["GetCurrentClientProperties"].push_back(
        std::make_unique<GetCurrentClientProperties>());
    batch->messages["GetUserHomeDir"].push_back(std::make_unique<GetUserHomeDir>());
    auto answer = send(std::move(batch));

    auto& messages = dynamic_cast<ContainerResponse&>(*answer).messages;
    ASSERT_EQ(messages.size(), 3u);
    auto& properties = dynamic_cast<GetCurrentClientPropertiesResponse&>(
        *messages.at("GetCurrentClientPropertiesResponse")[0]);
    EXPECT_EQ(properties.properties.at("TYPE"), "jsd_rmt_nkv");
    EXPECT_EQ(properties.properties.at("type"), "jsd");  // the client's own entry stays
    EXPECT_EQ(messages.at("GetUserHomeDirResponse").size(), 1u);
    EXPECT_EQ(messages.at("ClientTypeResponse").size(), 1u);
}

TEST_F(ClientTypeRequestTest, ClientWithoutUsableTypeOrWithAForeignMessage) {
    auto answer = send(batchWith({{"TYPE", ""}, {"other", "x"}}));
    EXPECT_FALSE(context->has("clientType"));
    EXPECT_FALSE(context->has("origClientType"));
    EXPECT_EQ(boost::any_cast<StringTable>(context->get("clientProperties")),
              (StringTable{{"TYPE", ""}, {"other", "x"}}));
    auto& ct = dynamic_cast<ClientTypeResponse&>(
        *dynamic_cast<ContainerResponse&>(*answer).messages.at("ClientTypeResponse")[0]);
    EXPECT_EQ(ct.properties, (StringTable{{"TYPE", ""}, {"other", "x"}}));

    auto foreign = std::make_unique<ContainerRequest>();
    foreign->messages["ClientType"].push_back(std::make_unique<GetUserHomeDir>());
    auto fresh = sessions->useSession("fresh");
    context = fresh;
    answer = send(std::move(foreign));
    EXPECT_TRUE(context->keys().empty());
    auto& empty = dynamic_cast<ClientTypeResponse&>(
        *dynamic_cast<ContainerResponse&>(*answer).messages.at("ClientTypeResponse")[0]);
    EXPECT_EQ(empty.uuid, "");
    EXPECT_TRUE(empty.properties.empty());
}

TEST_F(ClientTypeRequestTest, BatchWithoutClientTypeCompletesAnEarlierBaseType) {
    context->set("clientType", std::string("jsd"), ContextScope::Session);
    context->set("clientProperties", StringTable{{"old", "entry"}}, ContextScope::Session);
    auto batch = std::make_unique<ContainerRequest>();
    batch->messages["GetUserHomeDir"].push_back(std::make_unique<GetUserHomeDir>());
    auto answer = send(std::move(batch));

    EXPECT_EQ(text("clientType"), "jsd_rmt_nkv");
    EXPECT_EQ(text("origClientType"), "jsd");
    EXPECT_EQ(boost::any_cast<StringTable>(context->get("clientProperties")),
              (StringTable{{"ORIG_CLIENT_TYPE", "jsd"}, {"TYPE", "jsd_rmt_nkv"}}));
    auto& messages = dynamic_cast<ContainerResponse&>(*answer).messages;
    EXPECT_EQ(messages.size(), 1u);  // passed back untouched: no ClientTypeResponse
    EXPECT_EQ(messages.count("GetUserHomeDirResponse"), 1u);

    // Once "origClientType" is there, path B does not run again.
    context->set("clientType", std::string("ml"), ContextScope::Session);
    (void)send(std::make_unique<ContainerRequest>());
    EXPECT_EQ(text("clientType"), "ml");

    context = sessions->useSession("numeric");
    context->set("clientType", 42, ContextScope::Session);
    EXPECT_THROW((void)send(std::make_unique<ContainerRequest>()), boost::bad_any_cast);
}

TEST_F(ClientTypeRequestTest, OnwardErrorsLeaveHandleAndTheResponseHandlerIsRefused) {
    auto batch = batchWith({{"TYPE", "jsd"}});
    batch->messages["Unrouted"].push_back(std::make_unique<GetUserHomeDir>());
    try {
        (void)send(std::move(batch));
        FAIL() << "the onward error was swallowed";
    } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(), "No service provider for message type connector/v1/Unrouted");
    }
    auto refused = clientTypes->deliver(std::make_unique<ContainerResponse>(), Address(), nullptr);
    try {
        (void)refused.get();
        FAIL();
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "ClientTypeServiceProvider response handler not implemented.");
    }
}

// A router that records the short names in every batch sent onward to it and answers with
// `reply` once given, else with an empty ContainerResponse.
class RecordingRouter final : public connector::BatchRouter {
  public:
    connector::Future<std::unique_ptr<Message>> routeBatch(
        std::unique_ptr<ContainerRequest>&& batch, Address&&, std::shared_ptr<Context>) override {
        std::vector<std::string>& names = onward.emplace_back();
        for (const auto& entry : batch->messages) names.push_back(entry.first);
        if (!reply) reply = std::make_unique<ContainerResponse>();
        return connector::makeReadyFuture(std::move(reply));
    }

    std::vector<std::vector<std::string>> onward;
    std::unique_ptr<Message> reply;
};

class ClientTypeOnwardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv(HOSTING_VARIABLE);
        service->setRunning(true);
    }

    std::unique_ptr<Message> send(std::unique_ptr<ContainerRequest> batch,
                                  std::shared_ptr<Context> to) {
        return service->deliver(std::move(batch), Address("a"), std::move(to)).get();
    }

    static std::unique_ptr<ContainerRequest> withHomeDir(std::unique_ptr<ContainerRequest> batch) {
        batch->messages["GetUserHomeDir"].push_back(std::make_unique<GetUserHomeDir>());
        return batch;
    }

    // The uuids of the ClientTypeResponses in a ContainerResponse.
    static std::vector<std::string> answered(Message& answer) {
        std::vector<std::string> uuids;
        for (auto& m : dynamic_cast<ContainerResponse&>(answer).messages["ClientTypeResponse"])
            uuids.push_back(dynamic_cast<ClientTypeResponse&>(*m).uuid);
        return uuids;
    }

    std::shared_ptr<RecordingRouter> router = std::make_shared<RecordingRouter>();
    std::shared_ptr<Context> context = std::make_shared<Context>(router);
    std::shared_ptr<Provider> service = std::make_shared<Provider>();
};

TEST_F(ClientTypeOnwardTest, ClientTypesAreTakenOutBeforeTheBatchGoesOnAndOnlyTheFirstCounts) {
    auto alone = send(batchWith({{"TYPE", "jsd"}}), context);
    EXPECT_TRUE(router->onward.empty());  // nothing else in the batch: nothing goes onward
    EXPECT_EQ(answered(*alone), std::vector<std::string>{"ct-1"});

    // A second ClientType is neither sent onward nor answered nor recorded.
    auto batch = withHomeDir(batchWith({{"TYPE", "jsd"}}));
    batch->messages["ClientType"].push_back(
        std::make_unique<ClientType>("ct-2", StringTable{{"TYPE", "ml"}}));
    auto answer = send(std::move(batch), context);
    EXPECT_EQ(router->onward, (std::vector<std::vector<std::string>>{{"GetUserHomeDir"}}));
    EXPECT_EQ(answered(*answer), std::vector<std::string>{"ct-1"});
    EXPECT_EQ(boost::any_cast<std::string>(context->get("clientType")), "jsd_rmt_nkv");
}

TEST_F(ClientTypeOnwardTest, AnOnwardAnswerOfAnotherClassComesBackAsItIs) {
    router->reply = std::make_unique<GetUserHomeDirResponse>(u"/home/q");
    const Message* reply = router->reply.get();
    auto answer = send(withHomeDir(batchWith({{"TYPE", "jsd"}})), context);
    EXPECT_EQ(answer.get(), reply);  // no ClientTypeResponse added, nothing wrapped
    EXPECT_EQ(boost::any_cast<std::string>(context->get("clientType")), "jsd_rmt_nkv");
}

TEST_F(ClientTypeOnwardTest, WithoutAContextOnlyAClientTypeAloneIsAnswered) {
    const std::string noContext = "No context to send the batch onward.";
    EXPECT_EQ(testsupport::errorText([&] {
                  (void)send(withHomeDir(batchWith({{"TYPE", "jsd"}})), nullptr);
              }),
              noContext);
    EXPECT_EQ(testsupport::errorText(
                  [&] { (void)send(withHomeDir(std::make_unique<ContainerRequest>()), nullptr); }),
              noContext);
    EXPECT_EQ(answered(*send(batchWith({{"TYPE", "jsd"}}), nullptr)),
              std::vector<std::string>{"ct-1"});
    EXPECT_TRUE(router->onward.empty());
}

}  // namespace
