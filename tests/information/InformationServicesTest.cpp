// The plug-in's information service as the framework runs it: which feature flags it gives for
// which names, from the request context or from the engine's answers, which evaluations it asks
// in which order, the cached version, failures of the engine and faults of its distributor
// failing the request (and nothing else); the home directory, the service registry, and client
// properties from the current context or else the last used session.
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
using testsupport::listed;
using testsupport::Names;
using Sessions = connector::http::HttpSessionManager;
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
    // flags: the answer to `names`, as "<name>=<0|1>" in name order, or the request's error.
    std::string flags(Names names, std::shared_ptr<Context> to = nullptr) {
        return testsupport::outcome(
            [&] { return listed(features(std::move(names), std::move(to))->features); });
    }
    static std::u16string homeDir(const std::shared_ptr<Service>& of) {
        auto answer = of->deliver(std::make_unique<GetUserHomeDir>(), Address(), nullptr).get();
        return testsupport::answerAs<GetUserHomeDirResponse>(std::move(answer))->userHomeDir;
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
    EXPECT_EQ(
        wire(future.get()),
        R"(EnabledFeaturesResponse {"features":{"isGDSEnabled":false,"isLoginRequired":false,)"
        R"("isNativeImportDataEnabled":false,"isNativePublishEnabled":false,"isQGGEnabled":true,)"
        R"("isSetPathEnabled":false,"isUDCFeedbackEnabled":false,"isVantrellCmdEnabled":true,)"
        R"("isWebSocketEnabled":true,"isWebSocketPKEnabled":true},"messageFaults":[],)"
        R"("quorixVersion":"4.2.0 build 1187","uuid":""})");
    EXPECT_EQ(evaluations(), (Names{"ver(vantrell)", "which(vtr)",
                                    "qls.internal.feature(graphicsAndGuis)", "version"}));
}

// The GDS and login flags are the framework's booleans in the context; the four locality flags
// say whether the client's type is a local one; no context reads as one without entries.
TEST_F(InformationServiceTest, ContextFlagsAndLocalityComeFromTheRequestContext) {
    auto context = std::make_shared<Context>();
    const Names fromContext = {"isGDSEnabled",           "isLoginRequired",
                               "isNativePublishEnabled", "isUDCFeedbackEnabled",
                               "isSetPathEnabled",       "isNativeImportDataEnabled"};
    const std::string remote =
        "isGDSEnabled=0 isLoginRequired=0 isNativeImportDataEnabled=0 "
        "isNativePublishEnabled=0 isSetPathEnabled=0 isUDCFeedbackEnabled=0 ";
    EXPECT_EQ(flags(fromContext, context), remote);
    EXPECT_EQ(flags(fromContext), remote);
    context->set("gdsEnabled", true, ContextScope::Session);
    context->set("loginRequired", std::string("true"), ContextScope::Session);  // not a bool
    for (const char* type : {"jsd_rmt_nkv", "jsd_LCL_nkv"}) {
        context->set("clientType", std::string(type), ContextScope::Session);
        EXPECT_EQ(flags(fromContext, context), "isGDSEnabled=1" + remote.substr(14)) << type;
    }
    context->set("clientType", std::string("xlclx"), ContextScope::Session);
    EXPECT_EQ(
        flags(fromContext, context),
        "isGDSEnabled=1 isLoginRequired=0 isNativeImportDataEnabled=1 isNativePublishEnabled=1 "
        "isSetPathEnabled=1 isUDCFeedbackEnabled=1 ");
    context->set("clientType", 7, ContextScope::Session);
    EXPECT_EQ(flags({"isSetPathEnabled"}, context), "bad_any_cast");
}

// With the installed host's answers both are on: AnEmptyListAsksForAllTenInOrderAndFillsTheRequest.
TEST_F(InformationServiceTest, HostAnswersDecideQggAndVantrellExactly) {
    for (const char* text : {"On", "ON", "on ", "onn", "", "off"}) {
        answer("qls.internal.feature", "graphicsAndGuis", fn::answerText(text));
        EXPECT_EQ(flags({"isQGGEnabled"}), "isQGGEnabled=0 ") << text;
    }
    const std::pair<const char*, const char*> which[] = {
        {"vtr is a built-in function", "1"}, {"Built-In", "0"}, {"/usr/local/bin/vtr", "0"}};
    for (const auto& [text, enabled] : which) {
        answer("which", "vtr", fn::answerText(text));
        EXPECT_EQ(flags({"isVantrellCmdEnabled"}),
                  "isVantrellCmdEnabled=" + std::string(enabled) + " ")
            << text;
    }
    answer("ver", "vantrell", fn::answerEmpty());
    evaluations();
    EXPECT_EQ(flags({"isVantrellCmdEnabled"}), "isVantrellCmdEnabled=0 ");
    EXPECT_EQ(evaluations(), Names{"ver(vantrell)"});  // "which" not asked
}

// Unknown names are skipped; a repeated name runs its check each time and keeps its first
// result. The version is asked until it is known, after an empty answer or a failure too. A
// failed evaluation, or a fault of the distributor, fails the request unchanged; the service
// answers the next request in full.
TEST_F(InformationServiceTest, TheVersionIsCachedOnceKnownAndFailuresFailTheRequest) {
    answer("version", "", fn::answerText(""));
    EXPECT_EQ(flags({"isWebSocketEnabled", "isWebSocketPKEnabled"}),
              "isWebSocketEnabled=1 isWebSocketPKEnabled=1 ");
    EXPECT_EQ(flags({"isFooEnabled", "isgdsenabled", " isGDSEnabled"}), "");
    EXPECT_EQ(evaluations(), (Names{"version", "version"}));  // still empty: asked again
    answer("version", "", fn::failWith("engine busy"));
    EXPECT_EQ(flags({"isWebSocketEnabled"}),
              "host Error 'Quorix:hostFunctionError' 'version': engine busy");
    answer("version", "", fn::answerText("5.0"));
    EXPECT_EQ(features({})->quorixVersion, u"5.0");

    const std::pair<Fault, std::string> faults[] = {
        {Fault::ThrowOnTrack, "runtime_error: distributor cannot track"},
        {Fault::ThrowOnSubmit, "runtime_error: distributor is stopping"},
        {Fault::DropDelegate, "broken promise"}};
    for (const auto& [fault, expected] : faults) {
        distributor->arm(fault);
        EXPECT_EQ(flags({"isGDSEnabled", "isQGGEnabled"}), expected);
        EXPECT_EQ(flags({"isQGGEnabled"}), "isQGGEnabled=1 ");
    }
    int asked = 0;
    engine->registerFunction("qls.internal.feature", [&](qvm::HostCall& call) {
        return fn::answerText(asked++ == 0 ? "on" : "off")(call);
    });
    EXPECT_EQ(flags({"isQGGEnabled", "isQGGEnabled"}), "isQGGEnabled=1 ");
    EXPECT_EQ(asked, 2);
    answer("qls.internal.feature", "graphicsAndGuis", fn::failWith("license checkout failed"));
    evaluations();
    EXPECT_EQ(
        flags({"isGDSEnabled", "isWebSocketEnabled", "isQGGEnabled", "isVantrellCmdEnabled"}),
        "host Error 'Quorix:hostFunctionError' 'qls.internal.feature': license checkout failed");
    EXPECT_EQ(evaluations(), Names{"qls.internal.feature(graphicsAndGuis)"});
    engine->setValid(false);  // evaluations are refused from now on (HostEvaluationTest)
    EXPECT_EQ(features({"isWebSocketEnabled"})->quorixVersion, u"5.0");  // cached: not evaluated
}

// Kept exactly, the last write winning, seen by every thread; each service keeps its own, a new
// service at a freed one's address included.
TEST_F(InformationServiceTest, TheHomeDirectoryIsKeptExactlyPerServiceAndTheLastWriteWins) {
    auto set = [&](std::u16string text) {
        ask<SetUserHomeDirResponse>(std::make_unique<SetUserHomeDir>(text));
    };
    auto other = started(nullptr);
    EXPECT_EQ(homeDir(service), u"");
    for (const std::u16string text : {u"C:\\Users\\\U0001F600\\ \\", u"/second", u""}) {
        set(text);
        EXPECT_EQ(homeDir(service), text);
    }
    std::thread([&] { set(u"/two"); }).join();
    EXPECT_EQ(homeDir(service), u"/two");
    EXPECT_EQ(homeDir(other), u"");
    for (int i = 0; i < 8; ++i) {  // new services, often at a freed one's address
        service = started(nullptr);
        EXPECT_EQ(homeDir(service), u"");
        set(u"/again");
    }
}

// The service named is answered with an empty endpoint (the request's uuid is not copied); a
// request without "service" is answered with a fault.
TEST_F(InformationServiceTest, TheRegistryAnswersTheServiceOrAFault) {
    auto registry = [&](StringTable properties) {
        return wire(ask<ServiceRegistryResponse>(
            std::make_unique<ServiceRegistryRequest>("uuid-1", properties)));
    };
    const std::string answered = R"(ServiceRegistryResponse {"messageFaults":[],"properties":)";
    EXPECT_EQ(registry({{"service", "quorix.editor"}, {"endpoint", "x"}, {"z", "y"}}),
              answered + R"({"endpoint":"","service":"quorix.editor"},"uuid":""})");
    EXPECT_EQ(registry({{"service", ""}}), answered + R"({"endpoint":"","service":""},"uuid":""})");
    for (const StringTable& request :
         {StringTable{}, {{"Service", "quorix.editor"}}, {{"endpoint", "x"}}})
        EXPECT_EQ(registry(request),
                  R"(ServiceRegistryResponse {"messageFaults":[{"faultCode":"Request.Ignored",)"
                  R"("faultConditions":[],"message":"No valid identifiers in service registry )"
                  R"(request properties"}],"properties":{},"uuid":""})");
}

// The log tells whether the last used session was asked.
TEST_F(InformationServiceTest, ClientPropertiesComeFromTheCurrentContextThenTheLastSession) {
    auto properties = [&] { return service->getClientTypeProperties(); };
    EXPECT_TRUE(started(std::make_shared<Sessions>())->getClientTypeProperties().empty());
    testsupport::LogCapture capture;
    EXPECT_TRUE(properties().empty());  // nothing in the last session, nothing current
    context->set("clientProperties", StringTable{{"TYPE", "jsd_rmt_nkv"}}, ContextScope::Session);
    EXPECT_EQ(properties(), (StringTable{{"TYPE", "jsd_rmt_nkv"}}));

    auto current = std::make_shared<Context>();
    current->set("clientProperties", StringTable{{"TYPE", "jsd_lcl_nkv"}}, ContextScope::Session);
    connector::qvm_common::CurrentContextStateScope serving(current);
    EXPECT_EQ(properties(), (StringTable{{"TYPE", "jsd_lcl_nkv"}}));  // the current context wins
    current->set("clientProperties", std::string("not a table"), ContextScope::Session);
    EXPECT_TRUE(properties().empty());  // wrong type: no fallback to the session

    const std::string none =
        "256 connector::information: No client properties found in session, "
        "returning empty map.";
    const std::string checking = "8 connector::information: Checking ",
                      last = checking + "for last used session",
                      now = checking + "qvm_common current context";
    EXPECT_EQ(capture.lines(), (Names{last, none, last, now, now, none}));
    current->set("clientProperties", StringTable{{"a", "b"}}, ContextScope::Session);
    EXPECT_TRUE(
        started(nullptr)->getClientTypeProperties().empty());  // without sessions: nothing is read
}

}  // namespace
