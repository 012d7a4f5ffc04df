// Delivery and the JSON path, each beside its floor. Paired benchmarks (bench/Paired.hpp) report
// one counter per variant, the median time of one operation in nanoseconds:
//
//   Delivery                 deliver: deliver(GetUserHomeDir) on the shared provider, then get;
//                            handle: the typed handle called directly, then get
//   Json_<request>           plugin: one message text through the plug-in's JSON path: parse,
//                            decode with the registered deserializer, deliver, handle, encode
//                            with the registered serializer, stringify; floor: POCO's parse of
//                            the same text plus its stringify of the same answer object (what
//                            the JSON library alone costs), and for EnabledFeatures the three
//                            host functions it evaluates, called directly (DirectHostCall.hpp);
//                            contract: what the serializer contract asks at least, POCO objects
//                            read into plain values and the answer's built afresh
//                            (ContractFloor.hpp)
//   JsonHost_<request>       host: the same request as an envelope line through connector-host's
//                            EnvelopeProcessor (envelope, session, router and answer envelope on
//                            top); floor: POCO's parse of that line plus its stringify of that
//                            answer
//   JsonScaling_*/threads:N  GetUserHomeDir and ServiceRegistry through the JSON path from 1 and
//                            2 threads on one provider, each thread serving a client of its own:
//                            throughput in items_per_second (wall clock)
//   Scaling_*/threads:N      the same through deliver alone
//   ScalingOfHandle_*        the same through the typed handle, without delivery: what the
//                            handlers alone share between threads
//   ScalingOfOwnProvider_*   the same through deliver, each thread with a provider of its own:
//                            nothing of the plug-in shared, what the machine gives two threads
//
// Threads: the host's own threads run on the placement's helper CPU (bench/Placement.hpp); the
// threads of a scaling benchmark pin themselves to CPUs 0 and 1 whatever the placement, since
// what they measure is two CPUs at work.
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>

#include "bench/BenchHost.hpp"
#include "bench/ContractFloor.hpp"
#include "bench/DirectHostCall.hpp"
#include "bench/Paired.hpp"
#include "bench/Placement.hpp"
#include "connector/framework/ContainerMessages.hpp"
#include "connector/framework/CurrentContextState.hpp"
#include "connector/information/v1/InformationServiceProviderImpl.hpp"
#include "tools/connector-host/core/EnvelopeProcessor.hpp"

namespace {

using bench::BenchHost;
using bench::Payload;

// ---- Delivery --------------------------------------------------------------------------------

void Delivery(benchmark::State& state) {
    BenchHost& host = BenchHost::instance();
    auto& provider = host.runtime.information;
    bench::runPaired(
        state, 32, {"deliver", "handle"},
        [&] {
            Payload response = provider
                                   ->deliver(bench::makeGetUserHomeDir(), connector::Address(),
                                             std::shared_ptr(host.session))
                                   .get();
            benchmark::DoNotOptimize(response.get());
        },
        [&] {
            Payload response = provider
                                   ->handle(std::make_unique<bench::info::GetUserHomeDir>(),
                                            connector::Address(), std::shared_ptr(host.session))
                                   .get();
            benchmark::DoNotOptimize(response.get());
        });
}

// ---- Scaling ---------------------------------------------------------------------------------

// Requests from MakeRequest through `provider`'s deliver for as long as the benchmark runs, with a
// context of this thread's own (every thread serves its own client).
template <Payload (*MakeRequest)(), class Provider>
void deliverRepeatedly(benchmark::State& state, Provider& provider) {
    bench::pinThisThread(state.thread_index());
    auto context = std::make_shared<connector::Context>(BenchHost::instance().runtime.router);
    for (auto _ : state) {
        Payload response =
            provider.deliver(MakeRequest(), connector::Address(), std::shared_ptr(context)).get();
        benchmark::DoNotOptimize(response.get());
    }
    state.SetItemsProcessed(state.iterations());
}

// All threads share the one provider.
template <Payload (*MakeRequest)()>
void scaling(benchmark::State& state) {
    deliverRepeatedly<MakeRequest>(state, *BenchHost::instance().runtime.information);
}

// The same with a provider of each thread's own: nothing of the plug-in is shared between the
// threads, so what remains is what the machine itself gives two threads.
template <Payload (*MakeRequest)()>
void scalingOfOwnProvider(benchmark::State& state) {
    BenchHost& host = BenchHost::instance();
    auto provider = std::make_shared<bench::info::InformationServiceProviderImpl>(
        host.runtime.sessions, host.runtime.engine);
    provider->setRunning(true);
    deliverRepeatedly<MakeRequest>(state, *provider);
    provider->setRunning(false);
}

void ScalingOfOwnProvider_GetUserHomeDir(benchmark::State& state) {
    scalingOfOwnProvider<&bench::makeGetUserHomeDir>(state);
}

void ScalingOfOwnProvider_ServiceRegistry(benchmark::State& state) {
    scalingOfOwnProvider<&bench::makeServiceRegistry>(state);
}

// The same through the typed handle, without delivery: what the handler alone shares.
template <class Request, Payload (*MakeRequest)()>
void scalingOfHandle(benchmark::State& state) {
    BenchHost& host = BenchHost::instance();
    auto& provider = host.runtime.information;
    bench::pinThisThread(state.thread_index());
    auto context = std::make_shared<connector::Context>(host.runtime.router);
    for (auto _ : state) {
        std::unique_ptr<Request> request(static_cast<Request*>(MakeRequest().release()));
        Payload response =
            provider->handle(std::move(request), connector::Address(), std::shared_ptr(context))
                .get();
        benchmark::DoNotOptimize(response.get());
    }
    state.SetItemsProcessed(state.iterations());
}

void ScalingOfHandle_GetUserHomeDir(benchmark::State& state) {
    scalingOfHandle<bench::info::GetUserHomeDir, &bench::makeGetUserHomeDir>(state);
}

void ScalingOfHandle_ServiceRegistry(benchmark::State& state) {
    scalingOfHandle<bench::info::ServiceRegistryRequest, &bench::makeServiceRegistry>(state);
}

void Scaling_GetUserHomeDir(benchmark::State& state) {
    scaling<&bench::makeGetUserHomeDir>(state);
}

void Scaling_ServiceRegistry(benchmark::State& state) {
    scaling<&bench::makeServiceRegistry>(state);
}

// ---- JSON end to end -------------------------------------------------------------------------

using Poco::JSON::Array;
using Poco::JSON::Object;

const std::string PREFIX = "connector/v1/";
const std::string CONTAINER_REQUEST = "connector/v1/ContainerRequest";

// One request of the table: its type name, its message text and the host's envelope line for it.
struct JsonRequest {
    const char* type;
    const char* message;
    const char* envelope;
};

const JsonRequest GET_USER_HOME_DIR{
    "connector/v1/GetUserHomeDir", R"({})",
    R"({"id": 5, "session": "bench", "type": "connector/v1/GetUserHomeDir", "message": {}})"};
const JsonRequest ENABLED_FEATURES{
    "connector/v1/EnabledFeatures", R"({"uuid": "f1", "features": []})",
    R"({"id": 1, "session": "bench", "type": "connector/v1/EnabledFeatures", )"
    R"("message": {"uuid": "f1", "features": []}})"};
const JsonRequest SERVICE_REGISTRY{
    "connector/v1/ServiceRegistry", R"({"uuid": "r1", "properties": {"service": "quorix.editor"}})",
    R"({"id": 2, "session": "bench", "type": "connector/v1/ServiceRegistry", )"
    R"("message": {"uuid": "r1", "properties": {"service": "quorix.editor"}}})"};
const JsonRequest CLIENT_PROPERTIES{
    "connector/v1/GetCurrentClientProperties", R"({})",
    R"({"id": 3, "session": "bench", "type": "connector/v1/GetCurrentClientProperties", )"
    R"("message": {}})"};
const JsonRequest CLIENT_TYPE_BATCH{
    "connector/v1/ContainerRequest",
    R"({"messages": {"ClientType": [{"uuid": "c1", "properties": {"TYPE": "desktop", )"
    R"("SERVICE_ENDPOINT": "http://127.0.0.1:31515"}}], "GetUserHomeDir": [{}]}})",
    R"({"id": 4, "session": "bench", "type": "connector/v1/ContainerRequest", "message": )"
    R"({"messages": {"ClientType": [{"uuid": "c1", "properties": {"TYPE": "desktop", )"
    R"("SERVICE_ENDPOINT": "http://127.0.0.1:31515"}}], "GetUserHomeDir": [{}]}}})"};

std::string toText(const Object::Ptr& object) {
    std::ostringstream out;
    object->stringify(out);
    return out.str();
}

// serveMessage: the plug-in's JSON path for one message text, as the framework drives it: parse,
// decode with the registered deserializer (each message of a batch), deliver to the provider of
// the type with the client's context current, encode the answer with the registered serializer
// (each message of a batch answer) and stringify it.
std::string serveMessage(BenchHost& host, const std::shared_ptr<connector::Context>& session,
                         const std::string& type, const std::string& message) {
    const auto& serializer = *host.runtime.serializer;
    Object::Ptr object = Poco::JSON::Parser().parse(message).extract<Object::Ptr>();
    const bool batch = type == CONTAINER_REQUEST;
    Payload request;
    if (batch) {
        auto container = std::make_unique<connector::container::v1::ContainerRequest>();
        Object::Ptr groups = object->getObject("messages");
        for (const std::string& shortName : groups->getNames()) {
            Array::Ptr list = groups->getArray(shortName);
            auto& messages = container->messages[shortName];
            for (std::size_t i = 0; i < list->size(); ++i)
                messages.push_back(serializer.deserialize(
                    PREFIX + shortName, list->getObject(static_cast<unsigned>(i))));
        }
        request = std::move(container);
    } else {
        request = serializer.deserialize(type, object);
    }

    Payload response;
    {
        connector::qvm_common::CurrentContextStateScope serving(session);
        response = batch ? host.runtime.clientTypes
                               ->deliver(std::move(request), connector::Address(bench::SESSION),
                                         std::shared_ptr(session))
                               .get()
                         : host.runtime.information
                               ->deliver(std::move(request), connector::Address(bench::SESSION),
                                         std::shared_ptr(session))
                               .get();
    }

    if (!batch) return toText(serializer.serialize(response).object);
    auto& answers = dynamic_cast<connector::container::v1::ContainerResponse&>(*response);
    Object::Ptr groups = new Object;
    for (const auto& [shortName, messages] : answers.messages) {
        Array::Ptr list = new Array;
        for (const auto& answer : messages) list->add(serializer.serialize(answer).object);
        groups->set(shortName, list);
    }
    Object::Ptr encoded = new Object;
    encoded->set("messages", groups);
    return toText(encoded);
}

// The JSON library's share of the same work: parse `text`, stringify `answer`.
void parseAndStringify(const std::string& text, const Object::Ptr& answer) {
    Poco::Dynamic::Var parsed = Poco::JSON::Parser().parse(text);
    benchmark::DoNotOptimize(&parsed);
    std::string written = toText(answer);
    benchmark::DoNotOptimize(written.data());
}

void Json(benchmark::State& state, const JsonRequest& request, int batch) {
    BenchHost& host = BenchHost::instance();
    const std::string type(request.type), message(request.message);
    const Object::Ptr answer = Poco::JSON::Parser()
                                   .parse(serveMessage(host, host.session, type, message))
                                   .extract<Object::Ptr>();
    const bench::ContractFloor contract(message, answer);
    bench::runPaired(
        state, batch, {"plugin", "floor", "contract"},
        [&] {
            std::string written = serveMessage(host, host.session, type, message);
            benchmark::DoNotOptimize(written.data());
        },
        [&] { parseAndStringify(message, answer); }, [&] { contract(); });
}

// EnabledFeatures for all flags evaluates three host functions one after the other (the version
// is cached after the first request): its floor is the JSON library's share plus those three
// functions called directly.
void JsonEnabledFeatures(benchmark::State& state) {
    BenchHost& host = BenchHost::instance();
    qvm::QVM& engine = *host.runtime.engine;
    bench::DirectHostCall feature(engine, "qls.internal.feature", "graphicsAndGuis");
    bench::DirectHostCall products(engine, "ver", "vantrell");
    bench::DirectHostCall which(engine, "which", "vtr");
    const std::string type(ENABLED_FEATURES.type), message(ENABLED_FEATURES.message);
    const Object::Ptr answer = Poco::JSON::Parser()
                                   .parse(serveMessage(host, host.session, type, message))
                                   .extract<Object::Ptr>();
    bench::runPaired(
        state, 1, {"plugin", "floor"},
        [&] {
            std::string written = serveMessage(host, host.session, type, message);
            benchmark::DoNotOptimize(written.data());
        },
        [&] {
            parseAndStringify(message, answer);
            feature();
            products();
            which();
        });
}

// The JSON path from several threads at once, each serving a client of its own.
void jsonScaling(benchmark::State& state, const JsonRequest& request) {
    BenchHost& host = BenchHost::instance();
    bench::pinThisThread(state.thread_index());
    auto session = std::make_shared<connector::Context>(host.runtime.router);
    const std::string type(request.type), message(request.message);
    for (auto _ : state) {
        std::string written = serveMessage(host, session, type, message);
        benchmark::DoNotOptimize(written.data());
    }
    state.SetItemsProcessed(state.iterations());
}

void JsonHost(benchmark::State& state, const JsonRequest& request, int batch) {
    connectorhost::EnvelopeProcessor processor(BenchHost::instance().runtime);
    const std::string line(request.envelope);
    connectorhost::Answer first = processor.process(line);
    if (first.error) {
        state.SkipWithError(("the host refused the request: " + first.json).c_str());
        return;
    }
    const Object::Ptr answer = Poco::JSON::Parser().parse(first.json).extract<Object::Ptr>();
    bench::runPaired(
        state, batch, {"host", "floor"},
        [&] {
            connectorhost::Answer result = processor.process(line);
            benchmark::DoNotOptimize(result.json.data());
        },
        [&] { parseAndStringify(line, answer); });
}

}  // namespace

BENCHMARK(Delivery);

BENCHMARK(Scaling_GetUserHomeDir)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(Scaling_ServiceRegistry)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(ScalingOfHandle_GetUserHomeDir)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(ScalingOfHandle_ServiceRegistry)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(ScalingOfOwnProvider_GetUserHomeDir)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(ScalingOfOwnProvider_ServiceRegistry)->Threads(1)->Threads(2)->UseRealTime();

BENCHMARK_CAPTURE(jsonScaling, GetUserHomeDir, GET_USER_HOME_DIR)
    ->Name("JsonScaling_GetUserHomeDir")
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime();
BENCHMARK_CAPTURE(jsonScaling, ServiceRegistry, SERVICE_REGISTRY)
    ->Name("JsonScaling_ServiceRegistry")
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime();

// Batches of a few microseconds and more; EnabledFeatures evaluates three host functions.
BENCHMARK(JsonEnabledFeatures)->Name("Json/EnabledFeatures");
BENCHMARK_CAPTURE(Json, ServiceRegistry, SERVICE_REGISTRY, 2);
BENCHMARK_CAPTURE(Json, GetCurrentClientProperties, CLIENT_PROPERTIES, 4);
BENCHMARK_CAPTURE(Json, ClientTypeBatch, CLIENT_TYPE_BATCH, 1);

BENCHMARK_CAPTURE(JsonHost, EnabledFeatures, ENABLED_FEATURES, 1);
BENCHMARK_CAPTURE(JsonHost, ServiceRegistry, SERVICE_REGISTRY, 1);
BENCHMARK_CAPTURE(JsonHost, GetCurrentClientProperties, CLIENT_PROPERTIES, 1);
BENCHMARK_CAPTURE(JsonHost, ClientTypeBatch, CLIENT_TYPE_BATCH, 1);

QCI_BENCHMARK_MAIN();
