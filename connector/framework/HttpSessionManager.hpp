// connector::http::HttpSessionManager: the framework's client sessions, each with a Context that
// lives as long as the manager. It remembers which session was used last.
//
// Threads: all operations are safe to call concurrently.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "connector/framework/BatchRouter.hpp"
#include "connector/framework/Context.hpp"
#include "connector/framework/ContextState.hpp"
#include "connector/framework/Visibility.hpp"

namespace connector::http {

class CONNECTOR_FRAMEWORK_API HttpSessionManager {
  public:
    // router: what the contexts of new sessions send batches onward through.
    explicit HttpSessionManager(std::weak_ptr<BatchRouter> router = {});
    virtual ~HttpSessionManager();

    // useSession: the context of session `id` (created on first use); it becomes the last used.
    std::shared_ptr<Context> useSession(const std::string& id);
    // lastUsedSessionState: the state of the session used most recently, or empty if none.
    virtual std::shared_ptr<common::ContextState> lastUsedSessionState() const;
    std::size_t sessionCount() const;

  private:
    std::weak_ptr<BatchRouter> router_;
    mutable std::mutex mutex_;
    std::unordered_map<std::string, std::shared_ptr<Context>> sessions_;
    std::shared_ptr<Context> lastUsed_;
};

}  // namespace connector::http
