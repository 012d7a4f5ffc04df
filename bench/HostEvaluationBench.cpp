// A host evaluation against a direct call of the same host function, and against the bare
// cross-thread round trip a worker-run evaluation would be built on, side by side
// (bench/Paired.hpp: one counter per variant, the median time of one evaluation in nanoseconds):
//
//   feval    fevalSync<std::u16string>("version") on the engine stand-in: the request, its
//            delegate and tracking, its stop listener on the provider, the run (on this thread,
//            which waits for it), the host array and its conversion
//   protocol what the request protocol requires at least, on this thread: the request (its IIP and
//            input), a promise state and the delegate over it, the delegate's future, the host
//            function called directly, a typed result completing the delegate (converted into
//            the promise) and the future's get (the floor of the target)
//   direct   the engine's "version" function called directly with a ready HostCall
//   bare     a boost::promise handed to a one-thread Boost.Asio pool, resolved there with the same
//            text, taken with get: what one evaluation run by the worker would cost at least
//
// Each variant runs BATCH times per timed batch, so that even the direct call's batches last
// long enough for the clock.
//
// Counters caller_cpu and worker_cpu say where the timing thread and the pool's thread last ran
// (bench/Placement.hpp: the engine's worker and the pool run on the helper CPU).
//
// Linked with the plug-in's objects directly: the evaluation templates are internal to it.

#include <benchmark/benchmark.h>

#include <atomic>
#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/thread/future.hpp>
#include <memory>
#include <optional>
#include <string>

#include "bench/DirectHostCall.hpp"
#include "bench/Paired.hpp"
#include "bench/Placement.hpp"
#include "connector/framework/ServiceProvider.hpp"
#include "connector/information/src/HostEvaluation.hpp"
#include "host/cmddistributor/FEvalResult.hpp"
#include "host/cmddistributor/VariadicFEvalType.hpp"
#include "host/qvm/HostFunctions.hpp"
#include "host/qvm/QVM.hpp"

namespace {

const char* const VERSION = "4.2.0 build 1187";
constexpr int BATCH = 16;

// A provider that is simply running: fevalSync reads nothing else of it.
class RunningProvider final : public connector::ServiceProvider {
  public:
    RunningProvider() { setRunning(true); }
    void onStart() override {}
    void onStop() override {}
};

// The least the request protocol asks of one evaluation, with no distributor in between.
void protocolFloor(bench::DirectHostCall& direct) {
    namespace v1 = connector::information::v1;
    auto request =
        v1::makeFEvalRequest<std::u16string>("version", boost::shared_ptr<qxutil::io::QXSink>(),
                                             boost::shared_ptr<qxutil::io::QXSink>());
    auto state = boost::make_shared<cmddistributor::PromiseState<std::u16string>>();
    auto delegate = std::make_unique<cmddistributor::PromiseDelegateT<std::u16string>>(
        &v1::convertResult<std::u16string>, state);
    boost::future<std::u16string> future = delegate->getFuture();
    delegate->markReady();
    direct();
    delegate->completeWithResult(cmddistributor::FEvalResult::makeTyped(
        qxutil::cmddistributor::detail::VariadicFEvalType<std::u16string>{u"4.2.0 build 1187"}));
    std::u16string version = future.get();
    benchmark::DoNotOptimize(version.data());
    benchmark::DoNotOptimize(request.get());
}

void HostEvaluation(benchmark::State& state) {
    RunningProvider provider;
    std::shared_ptr<qvm::QVM> engine;
    std::optional<boost::asio::thread_pool> worker;
    {
        bench::HelperThreads helpers;
        engine = qvm::QVM::create();
        worker.emplace(1);
    }
    engine->registerFunction("version", qvm::functions::answerText(VERSION));
    bench::DirectHostCall direct(*engine, "version");
    std::atomic<int> workerCpu{-1};
    bench::runPaired(
        state, BATCH, {"feval", "protocol", "direct", "bare"},
        [&] {
            std::u16string version =
                connector::information::v1::fevalSync<std::u16string>(provider, engine, "version");
            benchmark::DoNotOptimize(version.data());
        },
        [&] { protocolFloor(direct); }, [&] { direct(); },
        [&] {
            auto promise = std::make_shared<boost::promise<std::u16string>>();
            boost::future<std::u16string> future = promise->get_future();
            boost::asio::post(*worker, [promise, &workerCpu] {
                workerCpu.store(static_cast<int>(bench::currentCpu()), std::memory_order_relaxed);
                promise->set_value(u"4.2.0 build 1187");
            });
            std::u16string version = future.get();
            benchmark::DoNotOptimize(version.data());
        });
    worker->join();
    state.counters["caller_cpu"] = bench::currentCpu();
    state.counters["worker_cpu"] = workerCpu.load();
}

}  // namespace

BENCHMARK(HostEvaluation);

QCI_BENCHMARK_MAIN();
