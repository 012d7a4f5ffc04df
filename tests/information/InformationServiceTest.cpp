// The information service: which feature flags it gives for which names, from the request
// context or from the engine's answers, which evaluations it asks in which order, the cached
// version, failures of the engine and faults of its distributor failing the request (and nothing
// else); the home directory, the service registry, and client properties from the current
// context or else the last used session.
#include <gtest/gtest.h>

#include <thread>

#include "../support/InformationStack.hpp"
#include "../support/LogCapture.hpp"

namespace {

using namespace connector::information::v1;
using connector::Address;
using connector::Context;
using connector::common::ContextScope;
using testsupport::Fault;
using Names = testsupport::Names;
namespace fn = qvm::functions;

const Names ALL_FLAGS = {"isVantrellCmdEnabled",   "isGDSEnabled",
                         "isLoginRequired",        "isQGGEnabled",
                         "isNativePublishEnabled", "isUDCFeedbackEnabled",
                         "isSetPathEnabled",       "isNativeImportDataEnabled",
                         "isWebSocketEnabled",     "isWebSocketPKEnabled"};

class InformationServiceTest : public testsupport::InformationStack {
  protected:
    std::unique_ptr<EnabledFeaturesResponse> features(Names names,
                                                      std::shared_ptr<Context> to = nullptr) {
        return ask<EnabledFeaturesResponse>(
            std::make_unique<EnabledFeatures>("u", std::move(names)), std::move(to));
    }
    bool flag(const std::string& name, std::shared_ptr<Context> to = nullptr) {
        return features({name}, std::move(to))->features.at(name);
    }
    std::string failure(Names names) {
        return testsupport::errorText([&] { (void)features(std::move(names)); });
    }
    static std::u16string homeDir(const std::shared_ptr<Service>& of) {
        return testsupport::answerAs<GetUserHomeDirResponse>(
                   of->deliver(std::make_unique<GetUserHomeDir>(), Address(), nullptr).get())
            ->userHomeDir;
    }
};

TEST_F(InformationServiceTest, AnEmptyListAsksForAllTenInOrderAndFillsTheRequest) {
    auto owned = std::make_unique<EnabledFeatures>("u", Names());
    const EnabledFeatures& request = *owned;
    // handle takes the pointer by reference: the request stays its caller's, now listing every
    // flag (were it destroyed, the sanitizer builds would report the read below).
    auto future = service->handle(std::move(owned), Address(), std::make_shared<Context>());
    EXPECT_EQ(request.features, ALL_FLAGS);
    EXPECT_EQ(service->getFeatureNames(), ALL_FLAGS);
    ASSERT_TRUE(future.isReady());
    auto response = testsupport::answerAs<EnabledFeaturesResponse>(future.get());
    EXPECT_EQ(response->features, (FlagTable{{"isVantrellCmdEnabled", true},
                                             {"isGDSEnabled", false},
                                             {"isLoginRequired", false},
                                             {"isQGGEnabled", true},
                                             {"isNativePublishEnabled", false},
                                             {"isUDCFeedbackEnabled", false},
                                             {"isSetPathEnabled", false},
                                             {"isNativeImportDataEnabled", false},
                                             {"isWebSocketEnabled", true},
                                             {"isWebSocketPKEnabled", true}}));
    EXPECT_EQ(response->quorixVersion, u"4.2.0 build 1187");
    EXPECT_TRUE(response->faults.empty());
    EXPECT_EQ(response->uuid, "");
    EXPECT_EQ(evaluations(), (Names{"ver(vantrell)", "which(vtr)",
                                    "qls.internal.feature(graphicsAndGuis)", "version"}));
}

TEST_F(InformationServiceTest, ContextFlagsAndLocalityComeFromTheRequestContext) {
    auto context = std::make_shared<Context>();
    EXPECT_FALSE(flag("isGDSEnabled", context));
    EXPECT_FALSE(flag("isLoginRequired", context));
    context->set("gdsEnabled", true, ContextScope::Session);
    context->set("loginRequired", std::string("true"), ContextScope::Session);  // not a bool
    EXPECT_TRUE(flag("isGDSEnabled", context));
    EXPECT_FALSE(flag("isLoginRequired", context));

    const Names local = {"isNativePublishEnabled", "isUDCFeedbackEnabled", "isSetPathEnabled",
                         "isNativeImportDataEnabled"};
    for (const auto& [type, isLocal] : {std::pair<const char*, bool>{"xlclx", true},
                                        {"jsd_rmt_nkv", false},
                                        {"jsd_LCL_nkv", false}}) {
        SCOPED_TRACE(type);
        context->set("clientType", std::string(type), ContextScope::Session);
        const auto response = features(local, context);
        for (const std::string& name : local)
            EXPECT_EQ(response->features.at(name), isLocal) << name;
    }
    // No context at all reads as a context without entries.
    for (const char* name : {"isGDSEnabled", "isLoginRequired", "isSetPathEnabled"})
        EXPECT_FALSE(flag(name)) << name;
    context->set("clientType", 7, ContextScope::Session);
    EXPECT_THROW((void)flag("isSetPathEnabled", context), boost::bad_any_cast);
}

TEST_F(InformationServiceTest, HostAnswersDecideQggAndVantrellExactly) {
    using Answers = std::vector<std::pair<const char*, bool>>;
    for (const auto& [text, enabled] : Answers{{"on", true},
                                               {"On", false},
                                               {"ON", false},
                                               {"on ", false},
                                               {"onn", false},
                                               {"", false},
                                               {"off", false}}) {
        answer("qls.internal.feature", "graphicsAndGuis", fn::answerText(text));
        EXPECT_EQ(flag("isQGGEnabled"), enabled) << text;
    }
    for (const auto& [which, enabled] : Answers{{"/opt/vtr (built-in)", true},
                                                {"vtr is a built-in function", true},
                                                {"Built-In", false},
                                                {"/usr/local/bin/vtr", false}}) {
        answer("which", "vtr", fn::answerText(which));
        EXPECT_EQ(flag("isVantrellCmdEnabled"), enabled) << which;
    }
    answer("ver", "vantrell", fn::answerEmpty());
    evaluations();
    EXPECT_FALSE(flag("isVantrellCmdEnabled"));
    EXPECT_EQ(evaluations(), Names{"ver(vantrell)"});  // "which" not asked
}

TEST_F(InformationServiceTest, UnknownAndRepeatedNamesAndTheCachedVersion) {
    EXPECT_EQ(features({"isWebSocketEnabled"})->features,
              (FlagTable{{"isWebSocketEnabled", true}}));
    EXPECT_EQ(evaluations(), Names{"version"});
    auto unknown = features({"isFooEnabled", "isgdsenabled", " isGDSEnabled"});
    EXPECT_TRUE(unknown->features.empty());
    EXPECT_EQ(unknown->quorixVersion, u"4.2.0 build 1187");
    EXPECT_TRUE(evaluations().empty());  // the version is cached now

    // A repeated name runs its check each time; the first result stays.
    int asked = 0;
    engine->registerFunction("qls.internal.feature", [&](qvm::HostCall& call) {
        return fn::answerText(asked++ == 0 ? "on" : "off")(call);
    });
    EXPECT_EQ(features({"isQGGEnabled", "isQGGEnabled"})->features,
              (FlagTable{{"isQGGEnabled", true}}));
    EXPECT_EQ(asked, 2);
}

TEST_F(InformationServiceTest, AnEmptyOrFailedVersionIsAskedAgainAndFailuresFailTheRequest) {
    answer("version", "", fn::answerText(""));
    EXPECT_EQ(features({})->quorixVersion, u"");
    evaluations();
    (void)features({"isWebSocketEnabled"});
    EXPECT_EQ(evaluations(), Names{"version"});  // still empty: asked again

    answer("version", "", fn::failWith("engine busy"));
    EXPECT_EQ(failure({"isWebSocketEnabled"}), "engine busy");
    answer("version", "", fn::answerText("5.0"));
    EXPECT_EQ(features({})->quorixVersion, u"5.0");

    // Faults of the distributor surface unchanged; the service answers the next request in full.
    for (const auto& [fault, expected] :
         {std::pair<Fault, std::string>{Fault::ThrowOnTrack,
                                        "runtime_error: distributor cannot track"},
          {Fault::ThrowOnSubmit, "runtime_error: distributor is stopping"},
          {Fault::DropDelegate, "broken promise"}}) {
        distributor->arm(fault);
        EXPECT_EQ(testsupport::outcome([&] {
                      return features({"isGDSEnabled", "isQGGEnabled"})->uuid;
                  }),
                  expected);
        EXPECT_EQ(features({"isQGGEnabled"})->features, (FlagTable{{"isQGGEnabled", true}}));
    }
    answer("qls.internal.feature", "graphicsAndGuis", fn::failWith("license checkout failed"));
    evaluations();
    EXPECT_EQ(
        failure({"isGDSEnabled", "isWebSocketEnabled", "isQGGEnabled", "isVantrellCmdEnabled"}),
        "license checkout failed");
    EXPECT_EQ(evaluations(), Names{"qls.internal.feature(graphicsAndGuis)"});

    engine->setValid(false);
    EXPECT_EQ(failure({"isQGGEnabled"}), "Invalid QVM state");
    EXPECT_EQ(features({"isWebSocketEnabled"})->quorixVersion, u"5.0");  // cached: not evaluated
}

// Kept exactly, the last write winning, seen by every thread; each service keeps its own, a new
// service at a freed one's address included.
TEST_F(InformationServiceTest, TheHomeDirectoryIsKeptExactlyPerServiceAndTheLastWriteWins) {
    auto set = [&](std::u16string text) {
        auto acknowledged = ask<SetUserHomeDirResponse>(std::make_unique<SetUserHomeDir>(text));
        EXPECT_TRUE(acknowledged->faults.empty());
        EXPECT_EQ(acknowledged->uuid, "");
    };
    auto other = std::make_shared<Service>(nullptr, nullptr);
    other->setRunning(true);
    EXPECT_EQ(homeDir(service), u"");
    for (const std::u16string text : {u"C:\\Users\\\U0001F600\\ \\", u"/second", u""}) {
        set(text);
        EXPECT_EQ(homeDir(service), text);
    }
    std::thread([&] { set(u"/two"); }).join();
    EXPECT_EQ(homeDir(service), u"/two");
    EXPECT_EQ(homeDir(other), u"");
    for (int i = 0; i < 8; ++i) {  // new services, often at a freed one's address
        service = std::make_shared<Service>(nullptr, nullptr);
        service->setRunning(true);
        EXPECT_EQ(homeDir(service), u"");
        set(u"/again");
    }
}

TEST_F(InformationServiceTest, TheRegistryAnswersTheServiceOrAFault) {
    auto registry = [&](StringTable properties) {
        return ask<ServiceRegistryResponse>(
            std::make_unique<ServiceRegistryRequest>("uuid-1", properties));
    };
    for (const StringTable& request :
         {StringTable{{"service", "quorix.editor"}},
          StringTable{{"service", "quorix.editor"}, {"endpoint", "x"}, {"z", "y"}},
          StringTable{{"service", ""}}}) {
        auto answer = registry(request);
        EXPECT_EQ(answer->properties,
                  (StringTable{{"service", request.at("service")}, {"endpoint", ""}}));
        EXPECT_TRUE(answer->faults.empty());
        EXPECT_EQ(answer->uuid, "");  // the request's uuid is not copied
    }
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

TEST_F(InformationServiceTest, ClientPropertiesComeFromTheCurrentContextThenTheLastSession) {
    auto properties = [&] {
        return ask<GetCurrentClientPropertiesResponse>(
                   std::make_unique<GetCurrentClientProperties>())
            ->properties;
    };
    auto stacked = std::exchange(
        service,
        std::make_shared<Service>(std::make_shared<connector::http::HttpSessionManager>(), engine));
    service->setRunning(true);
    EXPECT_TRUE(properties().empty());  // no session used yet
    service = stacked;
    testsupport::LogCapture capture;
    // The log tells whether the last used session was asked.
    EXPECT_TRUE(properties().empty());  // nothing in the last session, nothing current
    context->set("clientProperties", StringTable{{"TYPE", "jsd_rmt_nkv"}}, ContextScope::Session);
    EXPECT_EQ(properties(), (StringTable{{"TYPE", "jsd_rmt_nkv"}}));

    auto current = std::make_shared<Context>();
    current->set("clientProperties", StringTable{{"TYPE", "jsd_lcl_nkv"}}, ContextScope::Session);
    connector::qvm_common::CurrentContextStateScope serving(current);
    EXPECT_EQ(properties(), (StringTable{{"TYPE", "jsd_lcl_nkv"}}));  // the current context wins
    current->set("clientProperties", std::string("not a table"), ContextScope::Session);
    EXPECT_TRUE(properties().empty());  // wrong type: no fallback to the session

    const std::string progress = "8 connector::information: ",
                      none =
                          "256 connector::information: No client properties found in session, "
                          "returning empty map.";
    EXPECT_EQ(capture.lines(), (Names{progress + "Checking for last used session", none,
                                      progress + "Checking for last used session",
                                      progress + "Checking qvm_common current context",
                                      progress + "Checking qvm_common current context", none}));

    current->set("clientProperties", StringTable{{"a", "b"}}, ContextScope::Session);
    service = std::make_shared<Service>(nullptr, engine);  // without sessions: nothing is read
    service->setRunning(true);
    EXPECT_TRUE(properties().empty());
}

}  // namespace
