// The client-type service: how it works out a client's full type, what it records in the
// client's context, what it takes out of a batch before sending the rest onward through the
// framework's router, and what it answers for every kind of onward answer or error.
#include <gtest/gtest.h>

#include <cstdlib>

#include "../support/InformationStack.hpp"
#include "../support/LogCapture.hpp"

namespace {

using namespace connector::information::v1;
using connector::Context;
using connector::common::ContextScope;
using connector::container::v1::ContainerRequest;
using connector::container::v1::ContainerResponse;
using testsupport::errorText;
using Provider = ClientTypeServiceProvider;

void setHosting(const char* value) {
    if (value)
        setenv("QUORIX_CONNECTOR_HOSTING_ENVIRONMENT", value, 1);
    else
        unsetenv("QUORIX_CONNECTOR_HOSTING_ENVIRONMENT");
}

TEST(ClientTypeResolutionTest, BaseTypeLocalityAndHostingMakeTheFullType) {
    setHosting(nullptr);
    for (const char* origin :
         {"http://localhost", "http://127.0.0.1", "http://::1", "http://0:0:0:0:0:ffff:7f00:1",
          "https://localhost", "https://127.0.0.1", "https://::1",
          "https://0:0:0:0:0:ffff:7f00:1"}) {
        SCOPED_TRACE(origin);  // anywhere in the endpoint
        EXPECT_EQ(Provider::getClientTypeWithSuffixes("jsd", origin + std::string(":1/x")),
                  "jsd_lcl_nkv");
        EXPECT_EQ(Provider::getClientTypeWithSuffixes("jsd", "ws+" + std::string(origin)),
                  "jsd_lcl_nkv");
    }
    for (const char* remote : {"", "http://LOCALHOST:31515", "http://[::1]:31515",
                               "http://192.168.1.4", "localhost", "http//127.0.0.1"})
        EXPECT_EQ(Provider::getClientTypeWithSuffixes("jsd", remote), "jsd_rmt_nkv") << remote;
    EXPECT_EQ(Provider::getClientTypeWithSuffixes("jsd_lcl_nkv", ""), "jsd_lcl_nkv");
    EXPECT_EQ(Provider::getClientTypeWithSuffixes("my_type", "http://localhost"), "my_type");
    EXPECT_EQ(Provider::getClientTypeWithSuffixes("", "http://localhost"), "");

    // The hosting variable is read on every call.
    for (const auto& [value, suffix] :
         std::vector<std::pair<const char*, const char*>>{{"tkv", "_tkv"},
                                                          {"TKV", "_tkv"},
                                                          {"tKv", "_tkv"},
                                                          {"tkv ", "_nkv"},
                                                          {"", "_nkv"},
                                                          {"nkv", "_nkv"},
                                                          {"tk", "_nkv"},
                                                          {nullptr, "_nkv"}}) {
        SCOPED_TRACE(value ? value : "<unset>");
        setHosting(value);
        EXPECT_EQ(Provider::getClientHostingEnvironmentSuffix(), suffix);
        EXPECT_EQ(Provider::getClientTypeWithSuffixes("jsd", "http://localhost:1"),
                  std::string("jsd_lcl") + suffix);
    }

    for (const auto& [properties, type] :
         std::vector<std::pair<StringTable, std::string>>{{{{"TYPE", ""}, {"type", "jsd"}}, ""},
                                                          {{{"TYPE", "ml"}, {"type", "jsd"}}, "ml"},
                                                          {{{"type", "jsd"}}, "jsd"},
                                                          {{{"Type", "jsd"}}, ""}})
        EXPECT_EQ(Provider::getClientType(ClientType("u", properties)), type);
    for (const char* yes : {"jsd", "jsd_lcl_nkv", "jsd_"})
        EXPECT_TRUE(Provider::isJsdClientType(yes)) << yes;
    for (const char* no : {"jsdx", "JSD", "xjsd", "my_jsd", "js", ""})
        EXPECT_FALSE(Provider::isJsdClientType(no)) << no;
}

class ClientTypeServiceTest : public testsupport::InformationStack {
  protected:
    // batch: a ClientType announcing `announced` (none when empty), then `homeDirs` requests.
    static std::unique_ptr<ContainerRequest> batch(StringTable announced, int homeDirs = 0) {
        auto batch = std::make_unique<ContainerRequest>();
        if (!announced.empty())
            batch->messages["ClientType"].push_back(
                std::make_unique<ClientType>("ct-1", announced));
        for (int i = 0; i < homeDirs; ++i)
            batch->messages["GetUserHomeDir"].push_back(std::make_unique<GetUserHomeDir>());
        return batch;
    }
    std::unique_ptr<ContainerResponse> sendAndOpen(std::unique_ptr<ContainerRequest> batch) {
        return testsupport::answerAs<ContainerResponse>(send(std::move(batch)));
    }
    static ClientTypeResponse& answered(ContainerResponse& response) {
        EXPECT_EQ(response.messages.at("ClientTypeResponse").size(), 1u);
        return dynamic_cast<ClientTypeResponse&>(*response.messages.at("ClientTypeResponse")[0]);
    }
    std::string text(const std::string& key) {
        return boost::any_cast<std::string>(context->get(key));
    }
    StringTable recorded() {
        return boost::any_cast<StringTable>(context->get("clientProperties"));
    }
};

TEST_F(ClientTypeServiceTest, ABatchWithOnlyAClientTypeRecordsTheClientAndAnswersIt) {
    setHosting(nullptr);
    testsupport::LogCapture capture;
    const StringTable sent{{"TYPE", "jsd"}, {"SERVICE_ENDPOINT", "http://127.0.0.1:31515/x"}};
    auto response = sendAndOpen(batch(sent));
    EXPECT_TRUE(router->onward.empty());  // nothing else in the batch: nothing goes onward

    StringTable expected = sent;
    expected["ORIG_CLIENT_TYPE"] = "jsd";
    expected["TYPE"] = "jsd_lcl_nkv";
    EXPECT_EQ(text("clientType"), "jsd_lcl_nkv");
    EXPECT_EQ(text("origClientType"), "jsd");
    EXPECT_EQ(recorded(), expected);
    EXPECT_EQ(context->keys().size(), 3u);
    for (const char* key : {"clientType", "origClientType", "clientProperties"})
        EXPECT_TRUE(context->scopeOf(key) == ContextScope::Session) << key;

    ASSERT_EQ(response->messages.size(), 1u);
    EXPECT_EQ(answered(*response).uuid, "ct-1");
    EXPECT_EQ(answered(*response).properties, expected);
    EXPECT_TRUE(answered(*response).faults.empty());
    EXPECT_EQ(
        capture.lines(),
        (testsupport::Names{"8 connector::information: Client type request received, checking type",
                            "8 connector::information: Client type found: jsd_lcl_nkv"}));
}

// The rest of the batch goes onward, without any ClientType, and sees the new client type; only
// the first ClientType is answered and recorded.
TEST_F(ClientTypeServiceTest, OtherMessagesGoOnwardAndOnlyTheFirstClientTypeCounts) {
    setHosting(nullptr);
    auto sent = batch({{"type", "jsd"}, {"SERVICE_ENDPOINT", "https://example.org"}}, 2);
    sent->messages["ClientType"].push_back(
        std::make_unique<ClientType>("ct-2", StringTable{{"TYPE", "ml"}}));
    sent->messages["GetCurrentClientProperties"].push_back(
        std::make_unique<GetCurrentClientProperties>());
    auto response = sendAndOpen(std::move(sent));
    EXPECT_EQ(router->onward,
              (std::vector<testsupport::Names>{{"GetCurrentClientProperties", "GetUserHomeDir"}}));

    ASSERT_EQ(response->messages.size(), 3u);
    auto& properties = dynamic_cast<GetCurrentClientPropertiesResponse&>(
        *response->messages.at("GetCurrentClientPropertiesResponse")[0]);
    EXPECT_EQ(properties.properties.at("TYPE"), "jsd_rmt_nkv");
    EXPECT_EQ(properties.properties.at("type"), "jsd");  // the client's own entry stays
    EXPECT_EQ(response->messages.at("GetUserHomeDirResponse").size(), 2u);
    EXPECT_EQ(answered(*response).uuid, "ct-1");
    EXPECT_EQ(text("clientType"), "jsd_rmt_nkv");
}

TEST_F(ClientTypeServiceTest, AClientWithoutUsableTypeOrAForeignAnnouncementRecordsNoType) {
    const StringTable typeless{{"TYPE", ""}, {"other", "x"}};
    auto response = sendAndOpen(batch(typeless));
    EXPECT_FALSE(context->has("clientType"));
    EXPECT_FALSE(context->has("origClientType"));
    EXPECT_EQ(recorded(), typeless);
    EXPECT_EQ(answered(*response).properties, typeless);

    auto foreign = std::make_unique<ContainerRequest>();
    foreign->messages["ClientType"].push_back(std::make_unique<GetUserHomeDir>());
    context = sessions->useSession("fresh");
    response = sendAndOpen(std::move(foreign));
    EXPECT_TRUE(context->keys().empty());
    EXPECT_EQ(answered(*response).uuid, "");
    EXPECT_TRUE(answered(*response).properties.empty());
}

TEST_F(ClientTypeServiceTest, ABatchWithoutClientTypeCompletesAnEarlierBaseType) {
    setHosting(nullptr);
    context->set("clientType", std::string("jsd"), ContextScope::Session);
    context->set("clientProperties", StringTable{{"old", "entry"}}, ContextScope::Session);
    auto response = sendAndOpen(batch({}, 1));
    EXPECT_EQ(text("clientType"), "jsd_rmt_nkv");
    EXPECT_EQ(text("origClientType"), "jsd");
    EXPECT_EQ(recorded(), (StringTable{{"ORIG_CLIENT_TYPE", "jsd"}, {"TYPE", "jsd_rmt_nkv"}}));
    EXPECT_EQ(response->messages.size(), 1u);  // passed back untouched: no ClientTypeResponse
    EXPECT_EQ(response->messages.count("GetUserHomeDirResponse"), 1u);

    // Once "origClientType" is there, it is not completed again; an empty batch is answered at
    // once, without going onward.
    context->set("clientType", std::string("ml"), ContextScope::Session);
    EXPECT_TRUE(sendAndOpen(batch({}))->messages.empty());
    EXPECT_EQ(text("clientType"), "ml");
    EXPECT_EQ(router->onward.size(), 1u);

    context = sessions->useSession("numeric");
    context->set("clientType", 42, ContextScope::Session);
    EXPECT_THROW((void)send(batch({})), boost::bad_any_cast);
}

TEST_F(ClientTypeServiceTest, OnwardAnswersAndErrorsComeBackAsTheyAre) {
    auto unrouted = batch({{"TYPE", "jsd"}});
    unrouted->messages["Unrouted"].push_back(std::make_unique<GetUserHomeDir>());
    try {
        (void)send(std::move(unrouted));
        FAIL() << "the onward error was swallowed";
    } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(), "No service provider for message type connector/v1/Unrouted");
    }
    EXPECT_EQ(testsupport::errorOf(clientTypes->deliver(std::make_unique<ContainerResponse>(),
                                                        connector::Address(), nullptr)),
              "ClientTypeServiceProvider response handler not implemented.");

    router->reply = std::make_unique<GetUserHomeDirResponse>(u"/home/q");
    const connector::Message* reply = router->reply.get();
    EXPECT_EQ(send(batch({{"TYPE", "jsd"}}, 1)).get(), reply);  // nothing added, nothing wrapped

    // Without a context only a ClientType alone is answered; no context, no router: errors.
    auto withoutContext = [&](std::unique_ptr<ContainerRequest> batch) {
        return clientTypes->deliver(std::move(batch), connector::Address(), nullptr).get();
    };
    EXPECT_EQ(answered(*testsupport::answerAs<ContainerResponse>(
                           withoutContext(batch({{"TYPE", "jsd"}}))))
                  .uuid,
              "ct-1");
    for (const StringTable& announced : {StringTable{}, StringTable{{"TYPE", "jsd"}}})
        EXPECT_EQ(errorText([&] { (void)withoutContext(batch(announced, 1)); }),
                  "No context to send the batch onward.");
    context = std::make_shared<Context>();
    EXPECT_EQ(errorText([&] { (void)send(batch({}, 1)); }), "No router to send the batch onward.");
}

}  // namespace
