// The information service's EnabledFeatures: which flags it gives for which names, from the
// request context or from the engine's answers, which evaluations it asks in which order, the
// cached version, and failures of the engine failing the request.
#include <gtest/gtest.h>

#include <mutex>

#include "../support/Answers.hpp"
#include "../support/ErrorText.hpp"
#include "connector/information/v1/EnabledFeatures.hpp"
#include "connector/information/v1/EnabledFeaturesResponse.hpp"
#include "connector/information/v1/InformationServiceProviderImpl.hpp"
#include "host/qvm/HostFunctions.hpp"
#include "host/qvm/QVM.hpp"

namespace {

using namespace connector::information::v1;
using connector::Address;
using connector::Context;
using connector::Message;
using connector::common::ContextScope;
namespace functions = qvm::functions;

const std::vector<std::string> ALL_FLAGS = {"isVantrellCmdEnabled",   "isGDSEnabled",
                                            "isLoginRequired",        "isQGGEnabled",
                                            "isNativePublishEnabled", "isUDCFeedbackEnabled",
                                            "isSetPathEnabled",       "isNativeImportDataEnabled",
                                            "isWebSocketEnabled",     "isWebSocketPKEnabled"};

// An engine whose functions record each evaluation (name and argument) in order.
class EnabledFeaturesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        answer("version", "", functions::answerText("4.2.0 build 1187"));
        answer("ver", "vantrell", functions::answerRecords({{{"Name", "Vantrell"}}}));
        answer("which", "vtr", functions::answerText("built-in (/opt/quorix/lib/vtr)"));
        answer("qls.internal.feature", "graphicsAndGuis", functions::answerText("on"));
        service->setRunning(true);
    }

    void answer(const std::string& name, const std::string& argument, qvm::HostFunction function) {
        engine->registerFunction(name, [this, name, argument, function](qvm::HostCall& call) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                calls.push_back(argument.empty() ? name : name + "(" + argument + ")");
            }
            return functions::byArgument({{argument, function}})(call);
        });
    }

    std::vector<std::string> evaluations() {
        std::lock_guard<std::mutex> lock(mutex);
        return std::exchange(calls, {});
    }

    std::unique_ptr<EnabledFeaturesResponse> ask(std::vector<std::string> names,
                                                 std::shared_ptr<Context> context = nullptr) {
        return testsupport::answerAs<EnabledFeaturesResponse>(
            service
                ->deliver(std::make_unique<EnabledFeatures>("u", std::move(names)), Address(),
                          std::move(context))
                .get());
    }

    std::string failure(std::vector<std::string> names,
                        std::shared_ptr<Context> context = nullptr) {
        return testsupport::errorText([&] { (void)ask(std::move(names), std::move(context)); });
    }

    std::mutex mutex;
    std::vector<std::string> calls;
    std::shared_ptr<qvm::QVM> engine = qvm::QVM::create();
    std::shared_ptr<InformationServiceProviderImpl> service =
        std::make_shared<InformationServiceProviderImpl>(nullptr, engine);
};

TEST_F(EnabledFeaturesTest, EmptyListAsksForAllTenInOrderAndFillsTheRequest) {
    auto context = std::make_shared<Context>();
    auto owned = std::make_unique<EnabledFeatures>("u", std::vector<std::string>());
    const EnabledFeatures& request = *owned;
    // handle takes the pointer by reference: the request stays its caller's, now listing every
    // flag (were it destroyed, the sanitizer builds would report the read below).
    auto future = service->handle(std::move(owned), Address(), std::shared_ptr<Context>(context));
    EXPECT_EQ(request.features, ALL_FLAGS);
    ASSERT_TRUE(future.isReady());
    auto answer = future.get();
    auto& response = dynamic_cast<EnabledFeaturesResponse&>(*answer);
    EXPECT_EQ(response.features, (FlagTable{{"isVantrellCmdEnabled", true},
                                            {"isGDSEnabled", false},
                                            {"isLoginRequired", false},
                                            {"isQGGEnabled", true},
                                            {"isNativePublishEnabled", false},
                                            {"isUDCFeedbackEnabled", false},
                                            {"isSetPathEnabled", false},
                                            {"isNativeImportDataEnabled", false},
                                            {"isWebSocketEnabled", true},
                                            {"isWebSocketPKEnabled", true}}));
    EXPECT_EQ(response.quorixVersion, u"4.2.0 build 1187");
    EXPECT_TRUE(response.faults.empty());
    EXPECT_EQ(response.uuid, "");
    EXPECT_EQ(evaluations(),
              (std::vector<std::string>{"ver(vantrell)", "which(vtr)",
                                        "qls.internal.feature(graphicsAndGuis)", "version"}));
}

TEST_F(EnabledFeaturesTest, ContextFlagsAndLocalityComeFromTheRequestContext) {
    auto context = std::make_shared<Context>();
    const std::vector<std::string> local = {"isNativePublishEnabled", "isUDCFeedbackEnabled",
                                            "isSetPathEnabled", "isNativeImportDataEnabled"};
    auto flags = [&](std::vector<std::string> names) { return ask(names, context)->features; };

    EXPECT_EQ(flags({"isGDSEnabled", "isLoginRequired"}),
              (FlagTable{{"isGDSEnabled", false}, {"isLoginRequired", false}}));
    context->set("gdsEnabled", true, ContextScope::Session);
    context->set("loginRequired", std::string("true"), ContextScope::Session);  // not a bool
    EXPECT_EQ(flags({"isGDSEnabled", "isLoginRequired"}),
              (FlagTable{{"isGDSEnabled", true}, {"isLoginRequired", false}}));

    for (bool flag : {false, true}) {
        context->set("clientType", std::string(flag ? "xlclx" : "jsd_rmt_nkv"),
                     ContextScope::Session);
        for (const auto& [name, enabled] : flags(local)) EXPECT_EQ(enabled, flag) << name;
    }
    context->set("clientType", std::string("jsd_LCL_nkv"), ContextScope::Session);
    EXPECT_FALSE(flags({"isSetPathEnabled"}).at("isSetPathEnabled"));

    // No context at all reads as a context without entries.
    // (The response is held here: ranging over a member of the temporary would read freed memory.)
    const auto withoutContext = ask(ALL_FLAGS, nullptr);
    for (const auto& [name, enabled] : withoutContext->features) {
        const bool fromContext = name != "isVantrellCmdEnabled" && name != "isQGGEnabled" &&
                                 name != "isWebSocketEnabled" && name != "isWebSocketPKEnabled";
        if (fromContext) {
            EXPECT_FALSE(enabled) << name;
        }
    }
    context->set("clientType", 7, ContextScope::Session);
    EXPECT_THROW((void)ask({"isSetPathEnabled"}, context), boost::bad_any_cast);
}

TEST_F(EnabledFeaturesTest, HostAnswersDecideQggAndVantrellExactly) {
    auto qgg = [&](const std::string& text) {
        answer("qls.internal.feature", "graphicsAndGuis", functions::answerText(text));
        return ask({"isQGGEnabled"})->features.at("isQGGEnabled");
    };
    EXPECT_TRUE(qgg("on"));
    for (const char* text : {"On", "ON", "on ", "onn", "", "off"}) EXPECT_FALSE(qgg(text)) << text;

    auto vantrell = [&](const std::string& which) {
        answer("which", "vtr", functions::answerText(which));
        evaluations();
        return ask({"isVantrellCmdEnabled"})->features.at("isVantrellCmdEnabled");
    };
    EXPECT_TRUE(vantrell("/opt/vtr (built-in)"));
    EXPECT_TRUE(vantrell("vtr is a built-in function"));
    EXPECT_FALSE(vantrell("Built-In"));
    EXPECT_FALSE(vantrell("/usr/local/bin/vtr"));

    answer("ver", "vantrell", functions::answerEmpty());
    evaluations();
    EXPECT_FALSE(ask({"isVantrellCmdEnabled"})->features.at("isVantrellCmdEnabled"));
    EXPECT_EQ(evaluations(), (std::vector<std::string>{"ver(vantrell)"}));  // "which" not asked
}

TEST_F(EnabledFeaturesTest, UnknownAndRepeatedNamesAndTheCachedVersion) {
    auto only = ask({"isWebSocketEnabled"});
    EXPECT_EQ(only->features, (FlagTable{{"isWebSocketEnabled", true}}));
    EXPECT_EQ(evaluations(), (std::vector<std::string>{"version"}));

    auto unknown = ask({"isFooEnabled", "isgdsenabled", " isGDSEnabled"});
    EXPECT_TRUE(unknown->features.empty());
    EXPECT_EQ(unknown->quorixVersion, u"4.2.0 build 1187");
    EXPECT_TRUE(evaluations().empty());  // the version is cached now

    // A repeated name runs its check each time; the first result stays.
    int asked = 0;
    engine->registerFunction("qls.internal.feature", [&](qvm::HostCall& call) {
        return functions::answerText(asked++ == 0 ? "on" : "off")(call);
    });
    EXPECT_EQ(ask({"isQGGEnabled", "isQGGEnabled"})->features, (FlagTable{{"isQGGEnabled", true}}));
    EXPECT_EQ(asked, 2);
}

TEST_F(EnabledFeaturesTest, EmptyOrFailingVersionIsAskedAgainAndFailuresFailTheRequest) {
    answer("version", "", functions::answerText(""));
    EXPECT_EQ(ask({})->quorixVersion, u"");
    evaluations();
    (void)ask({"isWebSocketEnabled"});
    EXPECT_EQ(evaluations(), (std::vector<std::string>{"version"}));  // still empty: asked again

    answer("version", "", functions::failWith("engine busy"));
    EXPECT_EQ(failure({"isWebSocketEnabled"}), "engine busy");
    answer("version", "", functions::answerText("5.0"));
    EXPECT_EQ(ask({})->quorixVersion, u"5.0");

    answer("qls.internal.feature", "graphicsAndGuis",
           functions::failWith("license checkout failed"));
    evaluations();
    EXPECT_EQ(
        failure({"isGDSEnabled", "isWebSocketEnabled", "isQGGEnabled", "isVantrellCmdEnabled"}),
        "license checkout failed");
    EXPECT_EQ(evaluations(), (std::vector<std::string>{"qls.internal.feature(graphicsAndGuis)"}));

    engine->setValid(false);
    EXPECT_EQ(failure({"isQGGEnabled"}), "Invalid QVM state");
    EXPECT_EQ(ask({"isWebSocketEnabled"})->quorixVersion, u"5.0");  // cached: no evaluation needed
}

}  // namespace
