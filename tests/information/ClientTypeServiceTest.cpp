// The plug-in's client-type service as the framework runs it: how it works out a client's full
// type, what it records in the client's context, what it takes out of a batch before sending the
// rest onward through the framework's router, and what it answers for every kind of onward
// answer or error.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "../support/InformationStack.hpp"
#include "../support/LogCapture.hpp"

namespace {

using namespace connector::information::v1;
using connector::Address;
using connector::Context;
using connector::common::ContextScope;
using connector::container::v1::ContainerRequest;
using connector::container::v1::ContainerResponse;
using testsupport::errorText;
using testsupport::listed;
using testsupport::Names;
using Provider = ClientTypeServiceProvider;

void setHosting(const char* value) {
    const char* const name = "QUORIX_CONNECTOR_HOSTING_ENVIRONMENT";
    value ? setenv(name, value, 1) : unsetenv(name);
}

std::string full(const std::string& type, const std::string& endpoint) {
    return Provider::getClientTypeWithSuffixes(type, endpoint);
}

TEST(ClientTypeResolutionTest, BaseTypeLocalityAndHostingMakeTheFullType) {
    setHosting(nullptr);
    for (const char* origin :
         {"http://localhost", "http://127.0.0.1", "http://::1", "http://0:0:0:0:0:ffff:7f00:1",
          "https://localhost", "https://127.0.0.1", "https://::1",
          "https://0:0:0:0:0:ffff:7f00:1"}) {
        EXPECT_EQ(full("jsd", origin + std::string(":1/x")), "jsd_lcl_nkv") << origin;
        EXPECT_EQ(full("jsd", "ws+" + std::string(origin)), "jsd_lcl_nkv") << origin;  // anywhere
    }
    for (const char* remote : {"", "http://LOCALHOST:31515", "http://[::1]:31515",
                               "http://192.168.1.4", "localhost", "http//127.0.0.1"})
        EXPECT_EQ(full("jsd", remote), "jsd_rmt_nkv") << remote;
    EXPECT_EQ(full("my_type", "http://localhost"), "my_type");
    EXPECT_EQ(full("", "http://localhost"), "");

    // The hosting variable is read on every call.
    const std::vector<std::pair<const char*, const char*>> hosting = {
        {"tkv", "_tkv"}, {"TKV", "_tkv"}, {"tKv", "_tkv"}, {"tkv ", "_nkv"},
        {"", "_nkv"},    {"nkv", "_nkv"}, {"tk", "_nkv"},  {nullptr, "_nkv"}};
    for (const auto& [value, suffix] : hosting) {
        setHosting(value);
        EXPECT_EQ(Provider::getClientHostingEnvironmentSuffix(), suffix)
            << (value ? value : "<unset>");
        EXPECT_EQ(full("jsd", "http://localhost:1"), std::string("jsd_lcl") + suffix);
    }

    const std::pair<StringTable, const char*> baseTypes[] = {
        {{{"TYPE", ""}, {"type", "jsd"}}, ""},
        {{{"TYPE", "ml"}, {"type", "jsd"}}, "ml"},
        {{{"type", "jsd"}}, "jsd"},
        {{{"Type", "jsd"}}, ""}};
    for (const auto& [properties, type] : baseTypes)
        EXPECT_EQ(Provider::getClientType(ClientType("u", properties)), type);
    for (const char* yes : {"jsd", "jsd_lcl_nkv", "jsd_"})
        EXPECT_TRUE(Provider::isJsdClientType(yes)) << yes;
    for (const char* no : {"jsdx", "JSD", "xjsd", "my_jsd", "js", ""})
        EXPECT_FALSE(Provider::isJsdClientType(no)) << no;
}

class ClientTypeServiceTest : public testsupport::InformationStack {
  protected:
    void SetUp() override { setHosting(nullptr), InformationStack::SetUp(); }
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
    // answers: a batch's answer, a line per message in its wire form, marked when it is filed
    // under another entry than its own type.
    std::string answers(std::unique_ptr<connector::Message> answer) {
        auto response = testsupport::answerAs<ContainerResponse>(std::move(answer));
        std::string text;
        for (auto& [entry, messages] : response->messages)
            for (auto& message : messages) {
                const std::string line = wire(std::move(message));
                text += (line.rfind(entry + " ", 0) == 0 ? "" : "under " + entry + ": ") + line;
            }
        return text;
    }
    // recorded: the entries of the client's session as "<key>=<text or {table}>" in key order;
    // every one of session scope.
    std::string recorded() {
        std::map<std::string, std::string> entries;
        for (const std::string& key : context->keys()) {
            EXPECT_TRUE(context->scopeOf(key) == ContextScope::Session) << key;
            const boost::any value = context->get(key);
            const auto* table = boost::any_cast<StringTable>(&value);
            entries[key] = table ? "{" + listed(*table) + "}" : boost::any_cast<std::string>(value);
        }
        return listed(entries);
    }
};

// The client's full type, its base type and its properties are recorded in its session; the
// ClientType is answered with them, and nothing else goes onward (no router is needed). Without a
// context it is answered with the properties sent.
TEST_F(ClientTypeServiceTest, ABatchWithOnlyAClientTypeRecordsTheClientAndAnswersIt) {
    testsupport::LogCapture capture;
    const StringTable sent{{"TYPE", "jsd"}, {"SERVICE_ENDPOINT", "http://127.0.0.1:31515/x"}};
    const std::string endpoint = R"("SERVICE_ENDPOINT":"http://127.0.0.1:31515/x",)";
    EXPECT_EQ(answers(send(batch(sent))),
              R"(ClientTypeResponse {"messageFaults":[],"properties":{"ORIG_CLIENT_TYPE":"jsd",)" +
                  endpoint + R"("TYPE":"jsd_lcl_nkv"},"uuid":"ct-1"})");
    EXPECT_EQ(recorded(),
              "clientProperties={ORIG_CLIENT_TYPE=jsd SERVICE_ENDPOINT=http://127.0.0.1:31515/x "
              "TYPE=jsd_lcl_nkv } clientType=jsd_lcl_nkv origClientType=jsd ");
    EXPECT_EQ(capture.lines(),
              (Names{"8 connector::information: Client type request received, checking type",
                     "8 connector::information: Client type found: jsd_lcl_nkv"}));
    EXPECT_EQ(answers(clientTypes->deliver(batch(sent), Address(), nullptr).get()),
              R"(ClientTypeResponse {"messageFaults":[],"properties":{)" + endpoint +
                  R"("TYPE":"jsd"},"uuid":"ct-1"})");
}

// The rest of the batch goes onward (a ClientType left in it would find no route) and sees the
// new client type; only the first ClientType is answered and recorded.
TEST_F(ClientTypeServiceTest, OtherMessagesGoOnwardAndOnlyTheFirstClientTypeCounts) {
    auto sent = batch({{"type", "jsd"}, {"SERVICE_ENDPOINT", "https://example.org"}}, 2);
    sent->messages["ClientType"].push_back(
        std::make_unique<ClientType>("ct-2", StringTable{{"TYPE", "ml"}}));
    sent->messages["GetCurrentClientProperties"].push_back(
        std::make_unique<GetCurrentClientProperties>());
    const std::string properties =
        R"({"ORIG_CLIENT_TYPE":"jsd",)"
        R"("SERVICE_ENDPOINT":"https://example.org","TYPE":"jsd_rmt_nkv",)"
        R"("type":"jsd"})";  // the client's own entry stays
    EXPECT_EQ(answers(send(std::move(sent))),
              R"(ClientTypeResponse {"messageFaults":[],"properties":)" + properties +
                  R"(,"uuid":"ct-1"}GetCurrentClientPropertiesResponse {"properties":)" +
                  properties +
                  R"(}GetUserHomeDirResponse {"userHomeDir":""})"
                  R"(GetUserHomeDirResponse {"userHomeDir":""})");
}

TEST_F(ClientTypeServiceTest, AClientWithoutUsableTypeOrAForeignAnnouncementRecordsNoType) {
    EXPECT_EQ(answers(send(batch({{"TYPE", ""}, {"other", "x"}}))),
              R"(ClientTypeResponse {"messageFaults":[],"properties":{"TYPE":"","other":"x"},)"
              R"("uuid":"ct-1"})");
    EXPECT_EQ(recorded(), "clientProperties={TYPE= other=x } ");

    auto foreign = std::make_unique<ContainerRequest>();
    foreign->messages["ClientType"].push_back(std::make_unique<GetUserHomeDir>());
    context = sessions->useSession("fresh");
    EXPECT_EQ(answers(send(std::move(foreign))),
              R"(ClientTypeResponse {"messageFaults":[],"properties":{},"uuid":""})");
    EXPECT_EQ(recorded(), "");
}

TEST_F(ClientTypeServiceTest, ABatchWithoutClientTypeCompletesAnEarlierBaseType) {
    context->set("clientType", std::string("jsd"), ContextScope::Session);
    context->set("clientProperties", StringTable{{"old", "entry"}}, ContextScope::Session);
    // passed back untouched: no ClientTypeResponse
    EXPECT_EQ(answers(send(batch({}, 1))), R"(GetUserHomeDirResponse {"userHomeDir":""})");
    const std::string completed =
        "clientProperties={ORIG_CLIENT_TYPE=jsd TYPE=jsd_rmt_nkv } clientType=";
    EXPECT_EQ(recorded(), completed + "jsd_rmt_nkv origClientType=jsd ");

    // Once "origClientType" is there, it is not completed again.
    context->set("clientType", std::string("ml"), ContextScope::Session);
    EXPECT_EQ(answers(send(batch({}))), "");
    EXPECT_EQ(recorded(), completed + "ml origClientType=jsd ");
    context = sessions->useSession("numeric");
    context->set("clientType", 42, ContextScope::Session);
    EXPECT_THROW((void)send(batch({})), boost::bad_any_cast);
}

// Errors of the onward delivery leave the handler as they are; an onward answer of another class
// comes back as it is, with nothing added; without a context, or a router, the rest of a batch
// cannot go onward.
TEST_F(ClientTypeServiceTest, OnwardAnswersAndErrorsComeBackAsTheyAre) {
    auto unrouted = batch({{"TYPE", "jsd"}});
    unrouted->messages["Unrouted"].push_back(std::make_unique<GetUserHomeDir>());
    EXPECT_EQ(testsupport::outcome([&] { return answers(send(std::move(unrouted))); }),
              "logic_error: No service provider for message type connector/v1/Unrouted");
    EXPECT_EQ(testsupport::errorOf(
                  clientTypes->deliver(std::make_unique<ContainerResponse>(), Address(), nullptr)),
              "ClientTypeServiceProvider response handler not implemented.");

    struct Replying : connector::BatchRouter {
        connector::Future<std::unique_ptr<connector::Message>> routeBatch(
            std::unique_ptr<ContainerRequest>&&, Address&&, std::shared_ptr<Context>) override {
            return connector::makeReadyFuture(std::move(reply));
        }
        std::unique_ptr<connector::Message> reply =
            std::make_unique<GetUserHomeDirResponse>(u"/home/q");
    };
    auto replying = std::make_shared<Replying>();
    const connector::Message* reply = replying->reply.get();
    context = std::make_shared<Context>(replying);
    EXPECT_EQ(send(batch({{"TYPE", "jsd"}}, 1)).get(), reply);  // nothing added, nothing wrapped

    for (const StringTable& announced : {StringTable{}, StringTable{{"TYPE", "jsd"}}})
        EXPECT_EQ(errorText([&] {
                      (void)clientTypes->deliver(batch(announced, 1), Address(), nullptr).get();
                  }),
                  "No context to send the batch onward.");
    context = std::make_shared<Context>();
    EXPECT_EQ(errorText([&] { (void)send(batch({}, 1)); }), "No router to send the batch onward.");
}

}  // namespace
