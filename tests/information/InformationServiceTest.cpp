// The information service's own requests: the home directory (kept exactly, the last write
// winning, seen by every thread, each service's its own), the service registry,
// and client properties from the current context or else the last used session. Torn home
// directories under concurrent clients are the stress suite's concern.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "../support/Answers.hpp"
#include "../support/LogCapture.hpp"
#include "connector/framework/CurrentContextState.hpp"
#include "connector/framework/HttpSessionManager.hpp"
#include "connector/information/v1/GetCurrentClientProperties.hpp"
#include "connector/information/v1/GetCurrentClientPropertiesResponse.hpp"
#include "connector/information/v1/GetUserHomeDir.hpp"
#include "connector/information/v1/GetUserHomeDirResponse.hpp"
#include "connector/information/v1/InformationServiceProviderImpl.hpp"
#include "connector/information/v1/ServiceRegistryRequest.hpp"
#include "connector/information/v1/ServiceRegistryResponse.hpp"
#include "connector/information/v1/SetUserHomeDir.hpp"
#include "connector/information/v1/SetUserHomeDirResponse.hpp"

namespace {

using namespace connector::information::v1;
using connector::Address;
using connector::Context;
using connector::Message;
using connector::common::ContextScope;

// Counts how often the service falls back to the last used session.
class CountingSessionManager : public connector::http::HttpSessionManager {
  public:
    std::shared_ptr<connector::common::ContextState> lastUsedSessionState() const override {
        ++asked;
        return HttpSessionManager::lastUsedSessionState();
    }
    mutable std::atomic<int> asked{0};
};

std::shared_ptr<InformationServiceProviderImpl> runningService(
    std::shared_ptr<connector::http::HttpSessionManager> sessions = nullptr) {
    auto service = std::make_shared<InformationServiceProviderImpl>(std::move(sessions), nullptr);
    service->setRunning(true);
    return service;
}

template <class Response>
std::unique_ptr<Response> ask(const std::shared_ptr<InformationServiceProviderImpl>& service,
                              std::unique_ptr<Message> request) {
    auto future = service->deliver(std::move(request), Address(), nullptr);
    EXPECT_TRUE(future.isReady());  // every handler answers with a completed future
    return testsupport::answerAs<Response>(future.get());
}

std::u16string homeDir(const std::shared_ptr<InformationServiceProviderImpl>& service) {
    return ask<GetUserHomeDirResponse>(service, std::make_unique<GetUserHomeDir>())->userHomeDir;
}

TEST(InformationServiceTest, HomeDirectoryIsKeptExactlyAndTheLastWriteWins) {
    auto service = runningService();
    EXPECT_EQ(homeDir(service), u"");

    const std::u16string first = u"C:\\Users\\\U0001F600\\ \\";
    auto acknowledged =
        ask<SetUserHomeDirResponse>(service, std::make_unique<SetUserHomeDir>(first));
    EXPECT_TRUE(acknowledged->faults.empty());
    EXPECT_EQ(acknowledged->uuid, "");
    EXPECT_EQ(homeDir(service), first);

    (void)ask<SetUserHomeDirResponse>(service, std::make_unique<SetUserHomeDir>(u"/second"));
    EXPECT_EQ(homeDir(service), u"/second");
    (void)ask<SetUserHomeDirResponse>(service, std::make_unique<SetUserHomeDir>(u""));
    EXPECT_EQ(homeDir(service), u"");
    EXPECT_EQ(runningService()->getFeatureNames().size(), 10u);
}

// A change made on another thread is what the next read gives; each service keeps its own text,
// a new service at a freed one's address included.
TEST(InformationServiceTest, EveryReaderSeesTheLatestHomeDirectoryOfItsOwnService) {
    auto first = runningService();
    auto second = runningService();
    (void)ask<SetUserHomeDirResponse>(first, std::make_unique<SetUserHomeDir>(u"/one"));
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(homeDir(first), u"/one");
        EXPECT_EQ(homeDir(second), u"");
    }
    std::thread([&] {
        (void)ask<SetUserHomeDirResponse>(first, std::make_unique<SetUserHomeDir>(u"/two"));
    }).join();
    EXPECT_EQ(homeDir(first), u"/two");

    for (int i = 0; i < 8; ++i) {  // new services, often at a freed one's address
        first.reset();
        first = runningService();
        EXPECT_EQ(homeDir(first), u"");
        (void)ask<SetUserHomeDirResponse>(first, std::make_unique<SetUserHomeDir>(u"/again"));
        EXPECT_EQ(homeDir(first), u"/again");
    }
}

TEST(InformationServiceTest, RegistryAnswersTheServiceOrAFault) {
    auto service = runningService();
    auto registry = [&](StringTable properties) {
        return ask<ServiceRegistryResponse>(
            service, std::make_unique<ServiceRegistryRequest>("uuid-1", properties));
    };
    for (const StringTable& request :
         {StringTable{{"service", "quorix.editor"}},
          StringTable{{"service", "quorix.editor"}, {"endpoint", "x"}, {"z", "y"}}}) {
        auto answer = registry(request);
        EXPECT_EQ(answer->properties,
                  (StringTable{{"service", "quorix.editor"}, {"endpoint", ""}}));
        EXPECT_TRUE(answer->faults.empty());
        EXPECT_EQ(answer->uuid, "");  // the request's uuid is not copied
    }
    EXPECT_EQ(registry({{"service", ""}})->properties,
              (StringTable{{"service", ""}, {"endpoint", ""}}));

    for (const StringTable& request : {StringTable{}, StringTable{{"Service", "quorix.editor"}},
                                       StringTable{{"endpoint", "x"}}}) {
        auto refused = registry(request);
        EXPECT_TRUE(refused->properties.empty());
        ASSERT_EQ(refused->faults.size(), 1u);
        EXPECT_EQ(refused->faults[0].faultCode, "Request.Ignored");
        EXPECT_EQ(refused->faults[0].message,
                  "No valid identifiers in service registry request properties");
        EXPECT_TRUE(refused->faults[0].faultConditions.empty());
    }
}

TEST(InformationServiceTest, ClientPropertiesComeFromTheCurrentContextThenTheLastSession) {
    const std::string PROPERTIES = "clientProperties";
    auto sessions = std::make_shared<CountingSessionManager>();
    auto service = runningService(sessions);
    auto properties = [&] {
        return ask<GetCurrentClientPropertiesResponse>(
                   service, std::make_unique<GetCurrentClientProperties>())
            ->properties;
    };
    testsupport::LogCapture capture;

    // Nothing anywhere: the session is asked, nothing found.
    EXPECT_TRUE(properties().empty());
    EXPECT_EQ(sessions->asked, 1);

    auto session = sessions->useSession("s1");
    session->set(PROPERTIES, StringTable{{"TYPE", "jsd_rmt_nkv"}}, ContextScope::Session);
    EXPECT_EQ(properties(), (StringTable{{"TYPE", "jsd_rmt_nkv"}}));
    EXPECT_EQ(sessions->asked, 2);

    auto current = std::make_shared<Context>();
    current->set(PROPERTIES, StringTable{{"TYPE", "jsd_lcl_nkv"}}, ContextScope::Session);
    {
        connector::qvm_common::CurrentContextStateScope serving(current);
        EXPECT_EQ(properties(), (StringTable{{"TYPE", "jsd_lcl_nkv"}}));
        EXPECT_EQ(sessions->asked, 2);  // the current context wins; the session is not asked

        current->set(PROPERTIES, std::string("not a table"), ContextScope::Session);
        EXPECT_TRUE(properties().empty());  // wrong type: no fallback to the session
        EXPECT_EQ(sessions->asked, 2);
    }

    const std::string none = "No client properties found in session, returning empty map.";
    const std::vector<testsupport::LogLine> expected = {
        {8, "connector::information", "Checking for last used session"},
        {256, "connector::information", none},
        {8, "connector::information", "Checking for last used session"},
        {8, "connector::information", "Checking qvm_common current context"},
        {8, "connector::information", "Checking qvm_common current context"},
        {256, "connector::information", none}};
    EXPECT_EQ(capture.lines(), expected);

    auto withoutSessions = runningService(nullptr);
    connector::qvm_common::CurrentContextStateScope serving(current);
    current->set(PROPERTIES, StringTable{{"a", "b"}}, ContextScope::Session);
    EXPECT_TRUE(ask<GetCurrentClientPropertiesResponse>(
                    withoutSessions, std::make_unique<GetCurrentClientProperties>())
                    ->properties.empty());
}

}  // namespace
