#include "connector/framework/HttpSessionManager.hpp"

namespace connector::http {
namespace {

// What a session costs before anything is written into it: its name, its table entries and an
// empty context.
std::size_t emptySessionBytes(const std::string& id) {
    return 2 * id.capacity() + 256 + sizeof(Context);
}

}  // namespace

HttpSessionManager::HttpSessionManager(std::weak_ptr<BatchRouter> batchRouter,
                                       SessionLimits sessionLimits)
    : router(std::move(batchRouter)), limits(sessionLimits) {}

HttpSessionManager::~HttpSessionManager() = default;

std::shared_ptr<Context> HttpSessionManager::useSession(const std::string& id) {
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex);
    dropIdle(now);
    auto found = byId.find(id);
    if (found != byId.end()) {
        recency.splice(recency.begin(), recency, found->second);
    } else {
        recency.push_front(
            Session{id, std::make_shared<Context>(router), now, emptySessionBytes(id)});
        byId.emplace(id, recency.begin());
        bytesInUse += recency.front().bytes;
    }
    Session& session = recency.front();
    session.lastUse = now;
    lastUsed = session.context;
    return session.context;
}

void HttpSessionManager::settleSession(const std::string& id) {
    std::shared_ptr<Context> context;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto found = byId.find(id);
        if (found == byId.end()) return;
        context = found->second->context;
    }
    // Measured outside the store's lock: it takes the context's own lock.
    const std::size_t bytes = emptySessionBytes(id) + context->approximateBytes();

    std::lock_guard<std::mutex> lock(mutex);
    auto found = byId.find(id);
    if (found != byId.end() && found->second->context == context) {
        bytesInUse = bytesInUse - found->second->bytes + bytes;
        found->second->bytes = bytes;
    }
    while (bytesInUse > limits.memoryBudget && !recency.empty()) drop(std::prev(recency.end()));
}

void HttpSessionManager::dropIdle(Clock::time_point now) {
    while (!recency.empty() && now - recency.back().lastUse > limits.idleTimeout)
        drop(std::prev(recency.end()));
}

void HttpSessionManager::drop(Recency::iterator session) {
    bytesInUse -= session->bytes;
    byId.erase(session->id);
    recency.erase(session);
}

std::shared_ptr<common::ContextState> HttpSessionManager::lastUsedSessionState() const {
    std::lock_guard<std::mutex> lock(mutex);
    return lastUsed;
}

std::size_t HttpSessionManager::sessionCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return byId.size();
}

}  // namespace connector::http
