// What watching the host costs per request: an envelope served through the host's core with and
// without what its front ends do after each request, side by side (bench/Paired.hpp):
//
//   bare      EnvelopeProcessor::process alone
//   counted   and the request counted in the metrics (RequestLog without an access log)
//   logged    and a line of the access log as well (to a file, as an operator would keep it)
//
// Each figure's floor is "bare", measured in the same benchmark.
#include <benchmark/benchmark.h>

#include <chrono>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "bench/BenchHost.hpp"
#include "bench/Paired.hpp"
#include "bench/Placement.hpp"
#include "tools/connector-host/core/EnvelopeProcessor.hpp"
#include "tools/connector-host/core/RequestLog.hpp"

namespace {

using bench::BenchHost;
using namespace connectorhost;

const std::string SERVICE_REGISTRY =
    R"({"id": 2, "session": "bench", "type": "connector/v1/ServiceRegistry", )"
    R"("message": {"uuid": "r1", "properties": {"service": "quorix.editor"}}})";

void Observability(benchmark::State& state) {
    EnvelopeProcessor processor(BenchHost::instance().runtime);
    Metrics metrics;
    metrics.nameTypes(BenchHost::instance().runtime.messageTypes());
    RequestLog counted(metrics, nullptr);
    char path[] = "/tmp/qci-access-XXXXXX";
    const int file = mkstemp(path);
    AccessLog accessLog(path);
    RequestLog logged(metrics, &accessLog);
    // What a front end does after each request: the record of what it was, then the log.
    const auto serve = [&](RequestLog* log) {
        const auto began = std::chrono::steady_clock::now();
        Answer answer = processor.process(SERVICE_REGISTRY);
        benchmark::DoNotOptimize(answer.json.data());
        if (log == nullptr) return;
        AccessRecord record;
        record.time = std::chrono::system_clock::now();
        record.peer = "stdin";
        record.session = answer.session;
        record.error = answer.error;
        record.bytesIn = SERVICE_REGISTRY.size();
        record.bytesOut = answer.json.size();
        record.duration = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - began);
        log->served(record, answer.type);
    };
    bench::runPaired(
        state, 16, {"bare", "counted", "logged"}, [&] { serve(nullptr); },
        [&] { serve(&counted); }, [&] { serve(&logged); });
    std::remove(path);
    if (file >= 0) ::close(file);
}

}  // namespace

BENCHMARK(Observability);

QCI_BENCHMARK_MAIN();
