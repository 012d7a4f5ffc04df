#include "connector/framework/HttpSessionManager.hpp"

namespace connector::http {
namespace {

// What a session costs before anything is written into it: its name, its table entries and an
// empty context.
std::size_t emptySessionBytes(const std::string& id) {
    return 2 * id.capacity() + 256 + sizeof(Context);
}

}  // namespace

HttpSessionManager::HttpSessionManager(std::weak_ptr<BatchRouter> router, SessionLimits limits)
    : router_(std::move(router)), limits_(limits) {}

HttpSessionManager::~HttpSessionManager() = default;

std::shared_ptr<Context> HttpSessionManager::useSession(const std::string& id) {
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    dropIdle(now);
    auto found = byId_.find(id);
    if (found != byId_.end()) {
        recency_.splice(recency_.begin(), recency_, found->second);
    } else {
        recency_.push_front(
            Session{id, std::make_shared<Context>(router_), now, emptySessionBytes(id)});
        byId_.emplace(id, recency_.begin());
        bytesInUse_ += recency_.front().bytes;
    }
    Session& session = recency_.front();
    session.lastUse = now;
    lastUsed_ = session.context;
    return session.context;
}

void HttpSessionManager::settleSession(const std::string& id) {
    std::shared_ptr<Context> context;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = byId_.find(id);
        if (found == byId_.end()) return;
        context = found->second->context;
    }
    // Measured outside the store's lock: it takes the context's own lock.
    const std::size_t bytes = emptySessionBytes(id) + context->approximateBytes();

    std::lock_guard<std::mutex> lock(mutex_);
    auto found = byId_.find(id);
    if (found != byId_.end() && found->second->context == context) {
        bytesInUse_ = bytesInUse_ - found->second->bytes + bytes;
        found->second->bytes = bytes;
    }
    while (bytesInUse_ > limits_.memoryBudget && !recency_.empty()) drop(std::prev(recency_.end()));
}

void HttpSessionManager::dropIdle(Clock::time_point now) {
    while (!recency_.empty() && now - recency_.back().lastUse > limits_.idleTimeout)
        drop(std::prev(recency_.end()));
}

void HttpSessionManager::drop(Recency::iterator session) {
    bytesInUse_ -= session->bytes;
    byId_.erase(session->id);
    recency_.erase(session);
}

std::shared_ptr<common::ContextState> HttpSessionManager::lastUsedSessionState() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastUsed_;
}

std::size_t HttpSessionManager::sessionCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return byId_.size();
}

std::size_t HttpSessionManager::memoryInUse() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytesInUse_;
}

}  // namespace connector::http
