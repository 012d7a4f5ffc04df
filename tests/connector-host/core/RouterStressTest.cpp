// Eight clients at once against one set of providers, through connector-host's own envelope
// handling: the serializer, the router, the session manager, both providers and the engine
// stand-in, whose "qls.internal.feature" and "which" answer after a delay.
//
// Each client has its own session and sends a fixed, pseudo-random mix of home-directory sets
// and gets, EnabledFeatures, client-type batches, registry and client-property requests. Checked:
//   - every request gets exactly one answer, its own, byte for byte: its id and session, its
//     client's properties and client type (in batches and in GetCurrentClientProperties), the
//     EnabledFeatures flags of its client's context, the registry answer of its own request;
//   - every GetUserHomeDir answers "" or exactly one value that some client set (never a torn
//     or mixed text);
//   - nothing deadlocks (CTest's time-out would catch it).
// HTTP is left to the end-to-end tests (tests/e2e), which drive the built host over loopback.
//
// Size: QCI_STRESS_SCALE (a positive integer, default 1) multiplies the requests per client
// (1,500 at scale 1). The figures are printed for the record; nothing about time is asserted.
#include <Poco/JSON/Parser.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "connector/information/v1/ClientTypeServiceProvider.hpp"
#include "tools/connector-host/core/EngineTable.hpp"
#include "tools/connector-host/core/EnvelopeProcessor.hpp"
#include "tools/connector-host/core/HostRuntime.hpp"

namespace {

using Poco::JSON::Object;

constexpr int CLIENTS = 8;

// The default engine, with two of the functions EnabledFeatures asks made slow.
const char* const SLOW_ENGINE = R"json({
  "valid": true,
  "functions": {
    "version": {"": "4.2.0 build 1187"},
    "ver": {"vantrell": [{"Name": "Vantrell"}]},
    "which": {"vtr": {"delay_ms": 1, "value": "built-in (/opt/quorix/lib/vtr)"}},
    "qls.internal.feature": {"graphicsAndGuis": {"delay_ms": 2, "value": "on"}}
  }
})json";

int scale() {
    const char* text = std::getenv("QCI_STRESS_SCALE");
    const int value = text ? std::atoi(text) : 1;
    return value > 0 ? value : 1;
}

enum class Op { SetHome, GetHome, Features, Batch, Registry, Properties };
// The request type of each operation, and (with "Response") its answer's.
const char* const TYPES[] = {"SetUserHomeDir",   "GetUserHomeDir",  "EnabledFeatures",
                             "ContainerRequest", "ServiceRegistry", "GetCurrentClientProperties"};

// homeDir: the text client `client` sets at step `step`: non-ASCII, of varying length, and
// rebuilt from its first two numbers, so that a torn or mixed text cannot pass for a real one.
std::string homeDir(int client, int step) {
    std::string text = "/home/\xd0\xba\xd0\xbb\xd0\xb8\xd0\xb5\xd0\xbd\xd1\x82-" +
                       std::to_string(client) + "/" + std::to_string(step) + "/";
    const char fill = static_cast<char>('a' + (client * 7 + step) % 26);
    text.append(static_cast<std::size_t>(step % 113) * 3, fill);
    return text + "\xe2\x82\xac";  // ends with a three-byte character
}

// The workload: per client, a fixed sequence of operations.
struct Plan {
    std::vector<std::vector<Op>> ops;    // [client][step]; step 0 is always a Batch
    std::set<std::string> homeDirs{""};  // every text some client sets, and "" (none set yet)

    explicit Plan(int steps) : ops(CLIENTS) {
        for (int client = 0; client < CLIENTS; ++client) {
            std::mt19937 random(static_cast<unsigned>(client) + 1);
            std::discrete_distribution<int> pick({30, 30, 8, 8, 12, 12});
            ops[client].push_back(Op::Batch);
            for (int step = 1; step < steps; ++step) {
                ops[client].push_back(static_cast<Op>(pick(random)));
                if (ops[client].back() == Op::SetHome) homeDirs.insert(homeDir(client, step));
            }
        }
    }
};

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

class Client {
  public:
    Client(int id, const Plan& plan, const std::string& typeSuffix)
        : id_(id), plan_(plan), localType_("jsd_lcl" + typeSuffix) {}

    // run: sends the client's requests one after another; gives the first answer that is not
    // the request's own, and why, or "" when every answer was.
    std::string run(connectorhost::EnvelopeProcessor& processor) const {
        const auto& ops = plan_.ops[id_];
        for (int step = 0; step < static_cast<int>(ops.size()); ++step) {
            const std::string requestId = std::to_string(id_) + "-" + std::to_string(step);
            const std::string answer = processor.process(envelope(ops[step], step, requestId)).json;
            std::string wrong;
            try {
                wrong = whyWrong(ops[step], requestId, answer);
            } catch (const std::exception& error) {
                wrong = error.what();
            }
            if (!wrong.empty())
                return "step " + std::to_string(step) + " (" + TYPES[static_cast<int>(ops[step])] +
                       "): " + wrong + "\n    answer: " + answer.substr(0, 300);
        }
        return "";
    }

  private:
    std::string session() const { return "client-" + std::to_string(id_); }

    std::string envelope(Op op, int step, const std::string& requestId) const {
        std::string text = "{\"id\":" + quoted(requestId) + ",\"session\":" + quoted(session()) +
                           ",\"type\":\"connector/v1/" + TYPES[static_cast<int>(op)] + "\"";
        // Even clients are GDS clients; the framework writes that into their context.
        if (step == 0)
            text += std::string(",\"context\":{\"gdsEnabled\":") +
                    (id_ % 2 == 0 ? "true" : "false") + "}";
        switch (op) {
            case Op::SetHome:
                return text + R"(,"message":{"userHomeDir":)" + quoted(homeDir(id_, step)) + "}}";
            case Op::Features:
                return text + R"(,"message":{"uuid":)" + quoted(requestId) +
                       R"(,"features":["isGDSEnabled","isSetPathEnabled","isQGGEnabled",)"
                       R"("isVantrellCmdEnabled","isWebSocketEnabled"]}})";
            case Op::Batch:
                return text + R"(,"message":{"messages":{"ClientType":[{"uuid":)" +
                       quoted("ct-" + requestId) +
                       R"(,"properties":{"TYPE":"jsd","SERVICE_ENDPOINT":"http://127.0.0.1:31515/",)"
                       R"("client":)" +
                       quoted(std::to_string(id_)) +
                       R"(}}],"ServiceRegistry":[{"properties":{"service":)" +
                       quoted("batch-" + requestId) + "}}]}}}";
            case Op::Registry:
                return text + R"(,"message":{"properties":{"service":)" +
                       quoted("svc-" + requestId) + "}}}";
            default:  // GetHome, Properties
                return text + "}";
        }
    }

    // The exact answer of every operation but GetHome: its properties, flags and registry
    // answers are this client's own, of this request.
    std::string expected(Op op, const std::string& requestId) const {
        const std::string properties = R"({"ORIG_CLIENT_TYPE":"jsd","SERVICE_ENDPOINT":)"
                                       R"("http://127.0.0.1:31515/","TYPE":)" +
                                       quoted(localType_) + R"(,"client":)" +
                                       quoted(std::to_string(id_)) + "}";
        const auto registry = [](const std::string& service) {
            return R"({"messageFaults":[],"properties":{"endpoint":"","service":)" +
                   quoted(service) + R"(},"uuid":""})";
        };
        const std::string head = "{\"id\":" + quoted(requestId) +
                                 ",\"session\":" + quoted(session()) + ",\"type\":\"connector/v1/";
        switch (op) {
            case Op::SetHome:
                return head + R"(SetUserHomeDirResponse","message":{}})";
            case Op::Features:
                return head + R"(EnabledFeaturesResponse","message":{"features":{"isGDSEnabled":)" +
                       (id_ % 2 == 0 ? "true" : "false") +
                       R"(,"isQGGEnabled":true,"isSetPathEnabled":true,"isVantrellCmdEnabled":true,)"
                       R"("isWebSocketEnabled":true},"messageFaults":[],)"
                       R"("quorixVersion":"4.2.0 build 1187","uuid":""}})";
            case Op::Batch:
                return head + R"(ContainerResponse","message":{"messages":{"ClientTypeResponse":)" +
                       R"([{"messageFaults":[],"properties":)" + properties + R"(,"uuid":)" +
                       quoted("ct-" + requestId) + R"(}],"ServiceRegistryResponse":[)" +
                       registry("batch-" + requestId) + "]}}}";
            case Op::Registry:
                return head + R"(ServiceRegistryResponse","message":)" +
                       registry("svc-" + requestId) + "}";
            default:  // Properties
                return head + R"(GetCurrentClientPropertiesResponse","message":{"properties":)" +
                       properties + "}}";
        }
    }

    // whyWrong: what is wrong with `text` as the answer to this request, or "".
    std::string whyWrong(Op op, const std::string& requestId, const std::string& text) const {
        if (op != Op::GetHome) return text == expected(op, requestId) ? "" : "not its own answer";
        Object::Ptr answer = Poco::JSON::Parser().parse(text).extract<Object::Ptr>();
        if (answer->optValue<std::string>("id", "") != requestId ||
            answer->optValue<std::string>("type", "") != "connector/v1/GetUserHomeDirResponse")
            return "the answer of another request";
        const auto home = answer->getObject("message")->optValue<std::string>("userHomeDir", "?");
        return plan_.homeDirs.count(home) ? "" : "a home directory nobody set";
    }

    int id_;
    const Plan& plan_;
    std::string localType_;
};

class RouterStressTest : public ::testing::Test {
  protected:
    connectorhost::HostRuntime runtime{connectorhost::makeEngine(SLOW_ENGINE)};
    connectorhost::EnvelopeProcessor processor{runtime};
};

TEST_F(RouterStressTest, EightClientsThroughTheEnvelopeProcessor) {
    const Plan plan(1500 * scale());
    const std::string suffix =
        connector::information::v1::ClientTypeServiceProvider::getClientHostingEnvironmentSuffix();
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::string> failures(CLIENTS);
    std::vector<std::thread> threads;
    for (int id = 0; id < CLIENTS; ++id)
        threads.emplace_back([&, id] { failures[id] = Client(id, plan, suffix).run(processor); });
    for (std::thread& thread : threads) thread.join();
    std::cout << "[stress] " << CLIENTS << " clients, " << plan.ops[0].size() << " requests each, "
              << std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()
              << " s\n";
    for (int id = 0; id < CLIENTS; ++id) EXPECT_EQ(failures[id], "") << "client " << id;
    EXPECT_EQ(runtime.sessions->sessionCount(), static_cast<std::size_t>(CLIENTS));
}

}  // namespace
