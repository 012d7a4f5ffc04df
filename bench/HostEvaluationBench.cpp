// A host evaluation against the bare cross-thread round trip it is built on, side by side
// (bench/Paired.hpp: one counter per variant, the median time of one evaluation in nanoseconds):
//
//   feval   fevalSync<std::u16string>("version") on the engine stand-in: the request, its
//           delegate and tracking, the engine's worker thread, the host array and its
//           conversion, the timed waits
//   bare    a boost::promise handed to the same kind of worker (a one-thread Boost.Asio pool, as
//           the engine's distributor uses), resolved there with the same text, taken with get
//
// Linked with the plug-in's objects directly: the evaluation templates are internal to it.
// Boost.Asio ends each handler with a release fence, which ThreadSanitizer cannot model and GCC
// warns about at compile time; the hand-over to the pool also goes through the pool's mutex, which
// it does model. (The engine stand-in's distributor says the same for the same pool.)
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic ignored "-Wtsan"
#endif

#include <benchmark/benchmark.h>

#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/thread/future.hpp>
#include <memory>
#include <string>

#include "bench/Paired.hpp"
#include "connector/framework/ServiceProvider.hpp"
#include "host/qvm/HostFunctions.hpp"
#include "host/qvm/QVM.hpp"
#include "v1/HostEvaluation.hpp"

namespace {

const char* const kVersion = "4.2.0 build 1187";

// A provider that is simply running: fevalSync reads nothing else of it.
class RunningProvider final : public connector::ServiceProvider {
  public:
    RunningProvider() { setRunning(true); }
    void onStart() override {}
    void onStop() override {}
};

void HostEvaluation(benchmark::State& state) {
    RunningProvider provider;
    std::shared_ptr<qvm::QVM> engine = qvm::QVM::create();
    engine->registerFunction("version", qvm::functions::answerText(kVersion));
    boost::asio::thread_pool worker(1);
    bench::runPaired(
        state, 1, {"feval", "bare"},
        [&] {
            std::u16string version =
                connector::information::v1::fevalSync<std::u16string>(provider, engine, "version");
            benchmark::DoNotOptimize(version.data());
        },
        [&] {
            auto promise = std::make_shared<boost::promise<std::u16string>>();
            boost::future<std::u16string> future = promise->get_future();
            boost::asio::post(worker, [promise] { promise->set_value(u"4.2.0 build 1187"); });
            std::u16string version = future.get();
            benchmark::DoNotOptimize(version.data());
        });
    worker.join();
}

}  // namespace

BENCHMARK(HostEvaluation);

BENCHMARK_MAIN();
