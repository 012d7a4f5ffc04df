// bench::Placement: which CPUs a benchmark program's threads run on, so that a figure does not
// depend on where the scheduler happened to put them. Chosen by the environment variable
// QCI_BENCH_PLACEMENT:
//
//   same    every thread on CPU 0: a hand-over between threads is a switch on one CPU
//   split   the timing thread on CPU 0, every thread the program starts (the engine's worker,
//           thread pools, the benchmarks' own helper threads) on CPU 1: a hand-over wakes the
//           other CPU
//   unset   wherever the scheduler puts them (for quick looks, not for figures)
//
// A thread inherits its creator's CPU set, so code that starts threads does so inside a
// HelperThreads scope. Threads that run a benchmark's loop in parallel (Threads(2)) pin themselves
// with pinThisThread(state.thread_index()), on CPUs 0 and 1 in either placement.
//
// QCI_BENCHMARK_MAIN() replaces BENCHMARK_MAIN(): it pins the timing thread and starts one parked
// thread before anything is measured. glibc takes cheaper paths (locks, reference counts) in a
// process that has never had a second thread; a host always has several, so every figure here is
// taken in a process that has one. The placement goes into the JSON output's context.
//
// Errors: an unknown placement, a machine with fewer than two CPUs for "split", or a refused
// sched_setaffinity end the program with a message (exit status 2).
#pragma once

#include <benchmark/benchmark.h>
#include <sched.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace bench {

enum class Placement { Free, SameCpu, SplitCpus };

[[noreturn]] inline void placementError(const std::string& message) {
    std::fprintf(stderr, "placement: %s\n", message.c_str());
    std::exit(2);
}

// placement: the placement chosen for this run (read once).
inline Placement placement() {
    static const Placement chosen = [] {
        const char* value = std::getenv("QCI_BENCH_PLACEMENT");
        if (value == nullptr || *value == '\0') return Placement::Free;
        if (std::strcmp(value, "same") == 0) return Placement::SameCpu;
        if (std::strcmp(value, "split") == 0) return Placement::SplitCpus;
        placementError(std::string("QCI_BENCH_PLACEMENT is \"") + value +
                       "\"; it must be \"same\" or \"split\"");
    }();
    return chosen;
}

inline const char* placementName() {
    switch (placement()) {
        case Placement::SameCpu:
            return "same";
        case Placement::SplitCpus:
            return "split";
        default:
            return "free";
    }
}

// pinThisThread: runs the calling thread on `cpu` only; nothing when the placement is free.
inline void pinThisThread(int cpu) {
    if (placement() == Placement::Free) return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    if (sched_setaffinity(0, sizeof set, &set) != 0)
        placementError("cannot pin a thread to CPU " + std::to_string(cpu) + ": " +
                       std::strerror(errno));
}

// currentCpu: the CPU the calling thread runs on now (for the counters that show placement).
inline double currentCpu() {
    return static_cast<double>(sched_getcpu());
}

inline int timingCpu() {
    return 0;
}
inline int helperCpu() {
    return placement() == Placement::SplitCpus ? 1 : 0;
}

// HelperThreads: while alive, threads that this thread starts land on the helper CPU.
class HelperThreads {
  public:
    HelperThreads() { pinThisThread(helperCpu()); }
    ~HelperThreads() { pinThisThread(timingCpu()); }
    HelperThreads(const HelperThreads&) = delete;
    HelperThreads& operator=(const HelperThreads&) = delete;
};

// ParkedThread: a second thread that waits, doing nothing, until the program ends.
class ParkedThread {
  public:
    ParkedThread()
        : thread_([this] {
            std::unique_lock<std::mutex> lock(mutex_);
            condition_.wait(lock, [this] { return done_; });
        }) {}
    ~ParkedThread() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        condition_.notify_one();
        thread_.join();
    }
    ParkedThread(const ParkedThread&) = delete;
    ParkedThread& operator=(const ParkedThread&) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable condition_;
    bool done_ = false;
    std::thread thread_;
};

// runWithPlacement: what QCI_BENCHMARK_MAIN runs.
inline int runWithPlacement(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (placement() == Placement::SplitCpus && std::thread::hardware_concurrency() < 2)
        placementError("\"split\" needs two CPUs; this machine has one");
    pinThisThread(timingCpu());
    benchmark::AddCustomContext("placement", placementName());
    {
        HelperThreads helpers;
        static ParkedThread parked;  // for the whole run, static objects' destruction included
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace bench

#define QCI_BENCHMARK_MAIN()                        \
    int main(int argc, char** argv) {               \
        return bench::runWithPlacement(argc, argv); \
    }                                               \
    int main(int, char**)
