// The response future against the futures of Boost.Thread and of the standard library. Each
// benchmark times its variants side by side (bench/Paired.hpp) and reports one counter per
// variant, the median time of one operation in nanoseconds:
//
//   Futures_Ready     a resolved future, then get: connector (makeReadyFuture), boost
//                     (boost::make_ready_future), std (std::promise set_value, get_future)
//   Futures_Chained   chained: then on a resolved future, then get; ready: the same without then
//   Futures_Handoff   the value set on a worker thread while this thread waits in get, for
//                     connector::Promise, boost::promise and std::promise on the same worker
//                     (on the placement's helper CPU, bench/Placement.hpp; counters caller_cpu
//                     and worker_cpu say where the two last ran)
//
// The payload is the one the plug-in moves through every future, a std::unique_ptr to a message;
// one message object is moved round and round, so that only the future's own work is measured.
#include <benchmark/benchmark.h>

#include <boost/thread/future.hpp>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "bench/Paired.hpp"
#include "bench/Placement.hpp"
#include "connector/framework/Future.hpp"
#include "connector/framework/Message.hpp"

namespace {

class BenchMessage final : public connector::Message {};

using Payload = std::unique_ptr<connector::Message>;

// ---- Resolved futures ------------------------------------------------------------------------

constexpr int RESOLVED_BATCH = 64;

void Futures_Ready(benchmark::State& state) {
    Payload message = std::make_unique<BenchMessage>();
    bench::runPaired(
        state, RESOLVED_BATCH, {"connector", "boost", "std"},
        [&] {
            connector::Future<Payload> future = connector::makeReadyFuture(std::move(message));
            message = future.get();
            benchmark::DoNotOptimize(message.get());
        },
        [&] {
            boost::future<Payload> future = boost::make_ready_future(std::move(message));
            message = future.get();
            benchmark::DoNotOptimize(message.get());
        },
        [&] {
            std::promise<Payload> promise;
            std::future<Payload> future = promise.get_future();
            promise.set_value(std::move(message));
            message = future.get();
            benchmark::DoNotOptimize(message.get());
        });
}

void Futures_Chained(benchmark::State& state) {
    Payload message = std::make_unique<BenchMessage>();
    bench::runPaired(
        state, RESOLVED_BATCH, {"chained", "ready"},
        [&] {
            connector::Future<Payload> chained =
                connector::makeReadyFuture(std::move(message))
                    .then([](connector::Future<Payload> resolved) { return resolved.get(); });
            message = chained.get();
            benchmark::DoNotOptimize(message.get());
        },
        [&] {
            connector::Future<Payload> future = connector::makeReadyFuture(std::move(message));
            message = future.get();
            benchmark::DoNotOptimize(message.get());
        });
}

// ---- Cross-thread handoff --------------------------------------------------------------------

// Worker: one thread that runs one job at a time, handed over through a mutex and a condition
// variable. All three peers use the same worker, so its own wake-up cost is common to them.
class Worker {
  public:
    Worker() : thread_([this] { loop(); }) {}
    ~Worker() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        condition_.notify_one();
        thread_.join();
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // post: runs job(argument) on the worker. REQUIRES: the previous job has finished.
    void post(void (*job)(void*), void* argument) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            job_ = job;
            argument_ = argument;
        }
        condition_.notify_one();
    }

    // cpu: the CPU the worker took its last job on.
    double cpu() {
        std::lock_guard<std::mutex> lock(mutex_);
        return cpu_;
    }

  private:
    void loop() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            condition_.wait(lock, [this] { return job_ != nullptr || stop_; });
            if (job_ == nullptr) return;
            void (*job)(void*) = job_;
            void* argument = argument_;
            job_ = nullptr;
            cpu_ = bench::currentCpu();
            lock.unlock();
            job(argument);
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable condition_;
    void (*job_)(void*) = nullptr;
    void* argument_ = nullptr;
    double cpu_ = -1;
    bool stop_ = false;
    std::thread thread_;
};

// SetJob: what the worker receives. It moves the promise out first, so that it owns it while it
// resolves it (the waiting thread may leave and destroy the job as soon as the value arrives).
template <class P>
struct SetJob {
    P promise;
    Payload* value;

    static void run(void* raw) {
        auto* job = static_cast<SetJob*>(raw);
        P promise = std::move(job->promise);
        Payload value = std::move(*job->value);
        setValue(promise, std::move(value));
    }

    static void setValue(connector::Promise<Payload>& promise, Payload&& value) {
        promise.setValue(std::move(value));
    }
    static void setValue(boost::promise<Payload>& promise, Payload&& value) {
        promise.set_value(std::move(value));
    }
    static void setValue(std::promise<Payload>& promise, Payload&& value) {
        promise.set_value(std::move(value));
    }
};

// handoff: one value through promise type P, set on `worker` while this thread waits in get.
template <class P, class GetFuture>
void handoff(Worker& worker, Payload& message, GetFuture getFuture) {
    SetJob<P> job{P(), &message};
    auto future = getFuture(job.promise);
    worker.post(&SetJob<P>::run, &job);
    message = future.get();
    benchmark::DoNotOptimize(message.get());
}

void Futures_Handoff(benchmark::State& state) {
    std::optional<Worker> worker;
    {
        bench::HelperThreads helpers;
        worker.emplace();
    }
    Payload message = std::make_unique<BenchMessage>();
    bench::runPaired(
        state, 1, {"connector", "boost", "std"},
        [&] {
            handoff<connector::Promise<Payload>>(
                *worker, message,
                [](connector::Promise<Payload>& promise) { return promise.getFuture(); });
        },
        [&] {
            handoff<boost::promise<Payload>>(
                *worker, message,
                [](boost::promise<Payload>& promise) { return promise.get_future(); });
        },
        [&] {
            handoff<std::promise<Payload>>(*worker, message, [](std::promise<Payload>& promise) {
                return promise.get_future();
            });
        });
    state.counters["caller_cpu"] = bench::currentCpu();
    state.counters["worker_cpu"] = worker->cpu();
}

}  // namespace

BENCHMARK(Futures_Ready);
BENCHMARK(Futures_Chained);
BENCHMARK(Futures_Handoff);

QCI_BENCHMARK_MAIN();
