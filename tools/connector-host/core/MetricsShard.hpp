// What Metrics keeps per thread (Shard) and what reading adds up (Totals). Private to Metrics.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "tools/connector-host/core/Metrics.hpp"

namespace connectorhost {

// The HTTP statuses counted apart; any other counts in the slot after them.
inline constexpr std::array<unsigned, 13> STATUSES = {200, 204, 400, 401, 403, 404, 405,
                                                      413, 415, 431, 500, 501, 503};
[[nodiscard]] std::size_t statusSlot(unsigned status) noexcept;

// Counter: written by its block's one thread (a plain load and store, no locked instruction),
// read by any.
class Counter {
  public:
    void add(std::uint64_t n) noexcept {
        value.store(value.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
    }
    [[nodiscard]] std::uint64_t read() const noexcept {
        return value.load(std::memory_order_relaxed);
    }

  private:
    std::atomic<std::uint64_t> value{0};
};

template <std::size_t N>
using Counters = std::array<Counter, N>;

constexpr std::size_t BUCKET_SLOTS = Metrics::BUCKETS_US.size() + 1;  // and +Inf
constexpr std::size_t EVALUATION_OUTCOMES = 4;

// Aligned, so that no two threads' blocks share a cache line.
struct alignas(64) Metrics::Shard {
    std::array<Counters<2>, MAX_TYPES> requests;  // [type][answered, error]
    Counters<ERROR_KINDS> errors;
    Counters<STATUSES.size() + 1> statuses;
    std::array<Counters<BUCKET_SLOTS>, MAX_TYPES> durations;
    Counters<MAX_TYPES> durationSumUs;
    Counter bytesIn, bytesOut, reclaimed;
    Counters<EVALUATION_OUTCOMES> evaluations;
};

template <std::size_t N>
using Sums = std::array<std::uint64_t, N>;

struct Metrics::Totals {
    std::array<Sums<2>, MAX_TYPES> requests{};
    Sums<ERROR_KINDS> errors{};
    Sums<STATUSES.size() + 1> statuses{};
    std::array<Sums<BUCKET_SLOTS>, MAX_TYPES> durations{};
    Sums<MAX_TYPES> durationSumUs{};
    std::uint64_t bytesIn = 0, bytesOut = 0, reclaimed = 0;
    Sums<EVALUATION_OUTCOMES> evaluations{};

    void add(const Shard& shard) {
        for (std::size_t t = 0; t < MAX_TYPES; ++t) {
            for (std::size_t o = 0; o < 2; ++o) requests[t][o] += shard.requests[t][o].read();
            for (std::size_t b = 0; b < BUCKET_SLOTS; ++b)
                durations[t][b] += shard.durations[t][b].read();
            durationSumUs[t] += shard.durationSumUs[t].read();
        }
        addAll(errors, shard.errors);
        addAll(statuses, shard.statuses);
        addAll(evaluations, shard.evaluations);
        bytesIn += shard.bytesIn.read();
        bytesOut += shard.bytesOut.read();
        reclaimed += shard.reclaimed.read();
    }

    template <std::size_t N>
    static void addAll(Sums<N>& sums, const Counters<N>& counters) {
        for (std::size_t i = 0; i < N; ++i) sums[i] += counters[i].read();
    }
};

}  // namespace connectorhost
