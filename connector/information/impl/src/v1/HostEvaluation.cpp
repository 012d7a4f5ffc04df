#include "v1/HostEvaluation.hpp"

#include <unordered_map>

namespace connector::information::v1::detail {
namespace {

// Detached promises, by address, until they are fulfilled.
struct DetachedPromises {
    std::mutex mutex;
    std::unordered_map<const void*, std::shared_ptr<void>> promises;
};

DetachedPromises& detachedPromises() {
    static DetachedPromises* const kept = new DetachedPromises;  // outlives every delegate
    return *kept;
}

}  // namespace

void keepDetachedPromise(std::shared_ptr<void> promise) {
    DetachedPromises& detached = detachedPromises();
    std::lock_guard<std::mutex> lock(detached.mutex);
    const void* key = promise.get();
    detached.promises.emplace(key, std::move(promise));
}

void releaseDetachedPromise(const void* promise) noexcept {
    std::shared_ptr<void> released;
    {
        DetachedPromises& detached = detachedPromises();
        std::lock_guard<std::mutex> lock(detached.mutex);
        const auto found = detached.promises.find(promise);
        if (found == detached.promises.end()) return;
        released = std::move(found->second);
        detached.promises.erase(found);
    }
}

}  // namespace connector::information::v1::detail
