// Metrics: counting, one block per thread; the figures are written out in MetricsExposition.cpp.
#include "tools/connector-host/core/Metrics.hpp"

#include "tools/connector-host/core/MetricsShard.hpp"

namespace connectorhost {
namespace {

std::atomic<std::uint64_t> nextId{1};

double secondsSinceEpoch() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::size_t statusSlot(unsigned status) noexcept {
    for (std::size_t i = 0; i < STATUSES.size(); ++i)
        if (STATUSES[i] == status) return i;
    return STATUSES.size();  // any other
}

Metrics::Metrics() : id(nextId++), startTime(secondsSinceEpoch()) {}

void Metrics::nameTypes(std::vector<std::string> names) {
    typeNames = std::move(names);
}

const std::string& Metrics::typeName(std::size_t type) const noexcept {
    return typeNames[type < typeNames.size() ? type : 0];
}

Metrics::~Metrics() = default;

// The calling thread's block: found in a small cache of the thread's own, else made (once per
// thread and instance) under the mutex.
Metrics::Shard& Metrics::local() noexcept {
    struct Cached {
        std::uint64_t owner = 0;
        Shard* shard = nullptr;
    };
    thread_local std::array<Cached, 4> cache{};
    thread_local std::size_t nextSlot = 0;
    for (const Cached& cached : cache)
        if (cached.owner == id) return *cached.shard;
    std::lock_guard<std::mutex> lock(mutex);
    shards.push_back(std::make_unique<Shard>());
    cache[nextSlot] = Cached{id, shards.back().get()};
    nextSlot = (nextSlot + 1) % cache.size();
    return *shards.back();
}

void Metrics::countRequest(std::size_t type, std::optional<ErrorKind> error,
                           std::chrono::microseconds took, std::size_t bytesIn,
                           std::size_t bytesOut) noexcept {
    Shard& shard = local();
    if (type >= MAX_TYPES || type >= typeNames.size()) type = 0;
    shard.requests[type][error ? 1 : 0].add(1);
    if (error) shard.errors[static_cast<std::size_t>(*error)].add(1);
    const auto micros = static_cast<std::uint64_t>(took.count() < 0 ? 0 : took.count());
    std::size_t bucket = 0;
    while (bucket < BUCKETS_US.size() && micros > BUCKETS_US[bucket]) ++bucket;
    shard.durations[type][bucket].add(1);
    shard.durationSumUs[type].add(micros);
    shard.bytesIn.add(bytesIn);
    shard.bytesOut.add(bytesOut);
}

void Metrics::countHttp(unsigned status, std::optional<ErrorKind> error, std::size_t bytesIn,
                        std::size_t bytesOut) noexcept {
    Shard& shard = local();
    shard.statuses[statusSlot(status)].add(1);
    if (error) shard.errors[static_cast<std::size_t>(*error)].add(1);
    shard.bytesIn.add(bytesIn);
    shard.bytesOut.add(bytesOut);
}

void Metrics::countStatus(unsigned status) noexcept {
    local().statuses[statusSlot(status)].add(1);
}

void Metrics::countReclaim() noexcept {
    local().reclaimed.add(1);
}

void Metrics::countEvaluation(EvaluationOutcome outcome) noexcept {
    local().evaluations[static_cast<std::size_t>(outcome)].add(1);
}

Metrics::Totals Metrics::sum() const {
    Totals totals;
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& shard : shards) totals.add(*shard);
    return totals;
}

}  // namespace connectorhost
