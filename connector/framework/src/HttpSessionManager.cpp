#include "connector/framework/HttpSessionManager.hpp"

namespace connector::http {

HttpSessionManager::HttpSessionManager(std::weak_ptr<BatchRouter> router)
    : router_(std::move(router)) {}

HttpSessionManager::~HttpSessionManager() = default;

std::shared_ptr<Context> HttpSessionManager::useSession(const std::string& id) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::shared_ptr<Context>& session = sessions_[id];
    if (!session) session = std::make_shared<Context>(router_);
    lastUsed_ = session;
    return session;
}

std::shared_ptr<common::ContextState> HttpSessionManager::lastUsedSessionState() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastUsed_;
}

std::size_t HttpSessionManager::sessionCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sessions_.size();
}

}  // namespace connector::http
