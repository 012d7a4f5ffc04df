// One envelope in, one answer out: each kind of refusal for the input that earns it, the limits of
// a batch and of an answer at their edge, and that a refusal at any stage changes no session.
#include <gtest/gtest.h>

#include <Poco/JSON/Parser.h>

#include <climits>

#include "connector/framework/StringTable.hpp"

#include "tools/connector-host/core/AnswerBudget.hpp"
#include "tools/connector-host/core/EngineTable.hpp"
#include "tools/connector-host/core/EnvelopeProcessor.hpp"

namespace connectorhost {
namespace {

using Poco::JSON::Object;

const std::string HOME = R"("type": "connector/v1/GetUserHomeDir", "message": {"uuid": "h"})";

std::string errorField(const Answer& answer, const std::string& field) {
    const auto parsed = Poco::JSON::Parser().parse(answer.json).extract<Object::Ptr>();
    const auto error = parsed->getObject("error");
    return error ? error->getValue<std::string>(field) : "";
}

std::string errorKindOf(const Answer& answer) {
    return errorField(answer, "kind");
}

std::string batch(int clientTypes, int enabledFeatures, int featureNames = 0) {
    std::string features;
    for (int i = 0; i < featureNames; ++i)
        features += std::string(i ? "," : "") + "\"isQGGEnabled\"";
    std::string clients, enabled;
    for (int i = 0; i < clientTypes; ++i)
        clients += std::string(i ? "," : "") + R"({"uuid": "c", "properties": {"TYPE": "jsd"}})";
    for (int i = 0; i < enabledFeatures; ++i)
        enabled += std::string(i ? "," : "") + R"({"uuid": "e", "features": [)" + features + "]}";
    return R"({"type": "connector/v1/ContainerRequest", "message": {"messages": {"ClientType": [)" +
           clients + R"(], "EnabledFeatures": [)" + enabled + "]}}}";
}

struct Undecodable {};

class EnvelopeProcessorTest : public ::testing::Test {
  protected:
    // SetUserHomeDir stands for a message whose decoding fails (text the codec cannot convert).
    void SetUp() override {
        runtime.serializer->registerType("connector/v1/SetUserHomeDir", typeid(Undecodable), {},
                                         [](Object::Ptr) -> std::unique_ptr<connector::Message> {
                                             throw std::runtime_error("the text is not UTF-8");
                                         });
    }

    Answer process(const std::string& envelope, Limits limits = {}) {
        return EnvelopeProcessor(runtime, limits).process(envelope);
    }

    HostRuntime runtime{makeEngine(DEFAULT_ENGINE_TABLE)};
};

// The batch, feature and answer limits have their own tests at their edges below; a kind's status
// is the one ErrorKindTest pins (httpStatus reads it from there).
TEST_F(EnvelopeProcessorTest, EachRefusalIsAnsweredWithItsKindAndStatus) {
    struct Case {
        const char* kind;
        unsigned status;
        std::string envelope;
        Limits limits;
    };
    const auto with = [](auto change) {
        Limits limits;
        change(limits);
        return limits;
    };
    const Case cases[] = {
        {"parse_error", 400, "{\"type\": ", {}},
        {"too_deep", 400, "[[[1]]]", with([](Limits& l) { l.maxDepth = 2; })},
        {"too_many_values", 400, "[1, 2, 3]", with([](Limits& l) { l.maxValues = 2; })},
        {"number_out_of_range", 400, R"({"id": 18446744073709551616})", {}},
        {"invalid_envelope", 400, R"({"type": 7})", {}},
        {"unknown_type", 400, R"({"type": "connector/v1/Nothing"})", {}},
        {"no_provider", 400, R"({"type": "connector/v1/GetUserHomeDirResponse"})", {}},
        {"no_provider", 400, R"({"type": "connector/v1/ClientType"})", {}},
        {"decode_error",
         400,
         R"({"type": "connector/v1/SetUserHomeDir", "message": {"userHomeDir": "x"}})",
         {}},
        {"too_large", 413, "{" + HOME + "}", with([](Limits& l) { l.maxBytes = 10; })},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.envelope);
        const Answer answer = process(c.envelope, c.limits);
        EXPECT_EQ(errorKindOf(answer), c.kind);
        EXPECT_EQ(answer.httpStatus(), c.status);
    }
    HostRuntime stopped(makeEngine(R"({"valid": false, "functions": {}})"));
    const Answer failed = EnvelopeProcessor(stopped).process(
        R"({"type": "connector/v1/EnabledFeatures", "message": {"features": ["isQGGEnabled"]}})");
    EXPECT_EQ(errorKindOf(failed), "runtime_error");
    EXPECT_EQ(failed.httpStatus(), 500u);
}

// What a context entry and a batch may hold, each refusal naming what was expected; the accepted
// forms of a context entry reach the session as the values the plug-in reads.
TEST_F(EnvelopeProcessorTest, ContextEntriesAndBatchGroupsHoldOnlyTheirForms) {
    const auto with = [](const std::string& context) {
        return R"({"session": "s", "context": )" + context + ", " + HOME + "}";
    };
    const std::pair<std::string, std::string> refused[] = {
        {with("[]"), "\"context\" must be a JSON object"},
        {with(R"({"clientType": 5})"), "context entry \"clientType\" must be a text"},
        {with(R"({"gdsEnabled": 1})"), "context entry \"gdsEnabled\" must be a boolean"},
        {with(R"({"n": 2147483648})"), "context entry \"n\" must be an integer from -2147483648"},
        {with(R"({"n": -2147483649})"), "context entry \"n\" must be an integer from"},
        {with(R"({"n": 18446744073709551615})"), "context entry \"n\" must be an integer from"},
        {with(R"({"n": 1.5})"), "context entry \"n\" must be a boolean, a text, an integer"},
        {with(R"({"n": null})"), "context entry \"n\" must be a boolean, a text, an integer"},
        {with(R"({"t": {"a": 1}})"), "context entry \"t\" must hold only texts"},
        {R"({"type": "connector/v1/ContainerRequest", "message": {}})",
         "A container request needs a \"messages\" object"},
        {R"({"type": "connector/v1/ContainerRequest", "message": {"messages": {"ClientType": {}}}})",
         "\"ClientType\" must hold a list of messages"},
        {R"({"type": "connector/v1/ContainerRequest", "message": {"messages": {"ClientType": [1]}}})",
         "\"ClientType\" must hold only objects"},
    };
    for (const auto& [envelope, text] : refused) {
        SCOPED_TRACE(envelope);
        const Answer answer = process(envelope);
        EXPECT_EQ(errorKindOf(answer), "invalid_envelope");
        EXPECT_EQ(errorField(answer, "message").rfind(text, 0), 0u)
            << errorField(answer, "message");
    }
    ASSERT_EQ(errorKindOf(process(with(R"({"n": -2147483648, "m": 2147483647, "t": {"a": "b"}})"))),
              "");
    const auto session = runtime.sessions->useSession("s");
    EXPECT_EQ(boost::any_cast<int>(session->get("n")), INT_MIN);
    EXPECT_EQ(boost::any_cast<int>(session->get("m")), INT_MAX);
    EXPECT_EQ(boost::any_cast<connector::common::StringTable>(session->get("t")).at("a"), "b");
}

TEST_F(EnvelopeProcessorTest, BatchAndFeatureLimitsCountEveryGroupAndEveryMessage) {
    Limits limits;
    limits.maxBatchMessages = 4;
    limits.maxFeatures = 3;
    EXPECT_EQ(errorKindOf(process(batch(2, 2, 3), limits)), "");
    EXPECT_EQ(errorKindOf(process(batch(3, 2), limits)), "too_many_messages");  // across groups
    EXPECT_EQ(errorKindOf(process(batch(0, 5), limits)), "too_many_messages");
    EXPECT_EQ(errorKindOf(process(batch(1, 1, 4), limits)), "too_many_features");  // in a batch
    const std::string single =
        R"({"type": "connector/v1/EnabledFeatures", "message": {"features": [)";
    EXPECT_EQ(errorKindOf(process(single + R"("a", "b", "c"]}})", limits)), "");
    EXPECT_EQ(errorKindOf(process(single + R"("a", "b", "c", "d"]}})", limits)),
              "too_many_features");
}

TEST_F(EnvelopeProcessorTest, AnAnswerMayBeExactlyAsLargeAsItsLimit) {
    for (const std::string& envelope : {"{" + HOME + "}", batch(2, 2)}) {
        SCOPED_TRACE(envelope);
        const std::size_t size = process(envelope).json.size();
        Limits limits;
        limits.maxAnswerBytes = size;
        EXPECT_EQ(process(envelope, limits).json.size(), size);
        limits.maxAnswerBytes = size - 1;
        EXPECT_EQ(errorKindOf(process(envelope, limits)), "answer_too_large");
    }
}

TEST(AnswerBudgetTest, TheAnswersOfABatchStopAtTheOneThatCrossesTheLimit) {
    AnswerBudget outer(100);
    {
        AnswerBudget budget(10);  // the innermost budget of the thread is charged
        AnswerBudget::chargeCurrent(6);
        AnswerBudget::chargeCurrent(4);
        EXPECT_THROW(AnswerBudget::chargeCurrent(1), RequestError);
    }
    AnswerBudget::chargeCurrent(100);
    EXPECT_THROW(AnswerBudget::chargeCurrent(1), RequestError);
}

TEST_F(EnvelopeProcessorTest, AnEnvelopeRefusedAtAnyStageChangesNoSession) {
    const auto set = [](const std::string& session, const std::string& tail) {
        return R"({"session": ")" + session + R"(", "context": {"marker": "after"}, )" + tail + "}";
    };
    ASSERT_EQ(
        errorKindOf(process(R"({"session": "s", "context": {"marker": "before"}, )" + HOME + "}")),
        "");
    ASSERT_EQ(errorKindOf(process(R"({"session": "other", )" + HOME + "}")), "");
    const auto lastUsed = runtime.sessions->lastUsedSessionState();
    const std::pair<const char*, std::string> refused[] = {
        {"parse", set("s", HOME + ", \"id\": ")},
        {"validation", set("s", HOME + R"(, "context": {"gdsEnabled": "yes"})")},
        {"validation of a later member", set("s", R"("type": "connector/v1/Nothing")")},
        {"decoding",
         set("s", R"("type": "connector/v1/SetUserHomeDir", "message": {"userHomeDir": "x"})")},
        {"a new session", set("new", R"("type": "connector/v1/Nothing")")},
    };
    for (const auto& [stage, envelope] : refused) {
        SCOPED_TRACE(stage);
        EXPECT_NE(errorKindOf(process(envelope)), "");
        EXPECT_EQ(runtime.sessions->sessionCount(), 2u);
        EXPECT_EQ(runtime.sessions->lastUsedSessionState(), lastUsed);
    }
    EXPECT_EQ(boost::any_cast<std::string>(runtime.sessions->useSession("s")->get("marker")),
              "before");
}

}  // namespace
}  // namespace connectorhost
