// Heap allocations per request, by message type, counted by this program's global operator new
// (every thread, the engine's worker included, and every library that allocates with new).
//
//   Allocations/<request>    counter allocs_per_request: the allocations made from the call of
//                            deliver until its response has been taken with get and destroyed;
//                            request_allocs: those made building the request beforehand (the
//                            decoder's share, not delivery's)
//
// Timings of this binary are not reported: the counting hook itself costs time.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "bench/BenchHost.hpp"

namespace {

std::atomic<std::uint64_t> allocations{0};
std::atomic<std::uint64_t> allocatedBytes{0};

void* allocate(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    allocatedBytes.fetch_add(size, std::memory_order_relaxed);
    if (size == 0) size = 1;
    if (void* block = std::malloc(size)) return block;
    throw std::bad_alloc();
}

void* allocateAligned(std::size_t size, std::align_val_t alignment) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    allocatedBytes.fetch_add(size, std::memory_order_relaxed);
    const auto align = static_cast<std::size_t>(alignment);
    const std::size_t rounded = (size + align - 1) / align * align;
    if (void* block = std::aligned_alloc(align, rounded == 0 ? align : rounded)) return block;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    return allocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return allocateAligned(size, alignment);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
    std::free(block);
}

namespace {

using bench::BenchHost;
using bench::Payload;

template <class Provider>
void countPerRequest(benchmark::State& state, const std::shared_ptr<Provider>& provider,
                     Payload (*makeRequest)()) {
    BenchHost& host = BenchHost::instance();
    // The framework marks the client being served; done once here, outside the count.
    connector::qvm_common::CurrentContextStateScope serving(host.session);
    std::uint64_t inDelivery = 0;
    std::uint64_t inRequest = 0;
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        const std::uint64_t before = allocations.load();
        Payload request = makeRequest();
        const std::uint64_t built = allocations.load();
        const std::uint64_t bytesBefore = allocatedBytes.load();
        {
            Payload response = provider
                                   ->deliver(std::move(request), connector::Address(),
                                             std::shared_ptr(host.session))
                                   .get();
            benchmark::DoNotOptimize(response.get());
        }
        inRequest += built - before;
        inDelivery += allocations.load() - built;
        bytes += allocatedBytes.load() - bytesBefore;
    }
    using benchmark::Counter;
    state.counters["allocs_per_request"] = Counter(double(inDelivery), Counter::kAvgIterations);
    state.counters["request_allocs"] = Counter(double(inRequest), Counter::kAvgIterations);
    state.counters["bytes_per_request"] = Counter(double(bytes), Counter::kAvgIterations);
}

void information(benchmark::State& state, Payload (*makeRequest)()) {
    countPerRequest(state, BenchHost::instance().runtime.information, makeRequest);
}

Payload announceOnly() {
    return bench::makeClientTypeBatch(false);
}
Payload announceAndOnward() {
    return bench::makeClientTypeBatch(true);
}

void clientTypes(benchmark::State& state, Payload (*makeRequest)()) {
    countPerRequest(state, BenchHost::instance().runtime.clientTypes, makeRequest);
}

}  // namespace

BENCHMARK_CAPTURE(information, GetUserHomeDir, &bench::makeGetUserHomeDir)
    ->Name("Allocations/GetUserHomeDir");
BENCHMARK_CAPTURE(information, SetUserHomeDir, &bench::makeSetUserHomeDir)
    ->Name("Allocations/SetUserHomeDir");
BENCHMARK_CAPTURE(information, ServiceRegistry, &bench::makeServiceRegistry)
    ->Name("Allocations/ServiceRegistry");
BENCHMARK_CAPTURE(information, GetCurrentClientProperties, &bench::makeGetCurrentClientProperties)
    ->Name("Allocations/GetCurrentClientProperties");
BENCHMARK_CAPTURE(information, EnabledFeatures, &bench::makeEnabledFeatures)
    ->Name("Allocations/EnabledFeatures");
BENCHMARK_CAPTURE(clientTypes, ClientTypeBatch, &announceOnly)->Name("Allocations/ClientType");
BENCHMARK_CAPTURE(clientTypes, ClientTypeBatchOnward, &announceAndOnward)
    ->Name("Allocations/ClientType+GetUserHomeDir");

QCI_BENCHMARK_MAIN();
