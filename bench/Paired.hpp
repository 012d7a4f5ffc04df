// bench::runPaired: times several variants of one operation side by side, in the same benchmark,
// so that each figure and its baseline see the same machine at the same moment.
//
//   bench::runPaired(state, 64, {"ours", "boost"}, [&] { ... }, [&] { ... });
//
// Every benchmark iteration runs each variant once for `batch` operations, timed with the
// steady clock; the variants take turns going first. When the loop ends, each variant's counter
// "<name>_ns" holds the median of its batch times divided by the batch size: the time of one
// operation in wall-clock nanoseconds. A batch that was preempted by another process is an
// outlier that the median ignores; load that rises and falls over seconds hits all variants alike.
//
// The machine this runs on is shared and noisy: ratios of these counters are the figures to
// trust, not the absolute times. NOTE: the benchmark's own Time and CPU columns cover all the
// variants together and mean nothing on their own.
//
// For profiles (bench/profile.sh): with the environment variable QCI_BENCH_ONLY set to a variant's
// name only that variant runs, and each run ends by writing "operations <name> <count>" to
// stderr, so that a profile's totals can be divided into costs per operation.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace bench {

// runPaired: `names[i]` names `operations[i]`; every operation is a callable taking nothing.
// The operations are called directly (no std::function), so that the harness adds the same
// clock reads around every batch and nothing inside it.
template <class... Operations>
void runPaired(benchmark::State& state, int batch,
               const std::array<const char*, sizeof...(Operations)>& names,
               Operations&&... operations) {
    using Clock = std::chrono::steady_clock;
    constexpr std::size_t count = sizeof...(Operations);
    std::array<std::vector<double>, count> samples;
    const char* const only = std::getenv("QCI_BENCH_ONLY");
    auto timeBatch = [&](std::size_t wanted) {
        if (only != nullptr && std::strcmp(only, names[wanted]) != 0) return;
        std::size_t index = 0;
        auto timeIfWanted = [&](auto& operation) {
            if (index++ != wanted) return;
            const Clock::time_point start = Clock::now();
            for (int i = 0; i < batch; ++i) operation();
            const Clock::time_point end = Clock::now();
            samples[wanted].push_back(
                std::chrono::duration<double, std::nano>(end - start).count() / batch);
        };
        (timeIfWanted(operations), ...);
    };
    std::size_t first = 0;
    for (auto _ : state) {
        for (std::size_t turn = 0; turn < count; ++turn) timeBatch((first + turn) % count);
        first = (first + 1) % count;
    }
    for (std::size_t index = 0; index < count; ++index) {
        std::vector<double>& times = samples[index];
        if (times.empty()) continue;
        if (only != nullptr)
            std::fprintf(stderr, "operations %s %zu\n", names[index], times.size() * batch);
        const auto middle = times.begin() + static_cast<std::ptrdiff_t>(times.size() / 2);
        std::nth_element(times.begin(), middle, times.end());
        state.counters[std::string(names[index]) + "_ns"] = *middle;
    }
}

}  // namespace bench
