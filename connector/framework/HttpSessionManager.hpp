// connector::http::HttpSessionManager: the framework's client sessions, each with a Context, and
// which session was used last.
//
// A session lives until it has been idle longer than the idle time-out, or until the store is
// over its memory budget and the session is the least recently used one; the store then drops
// it (a request still holding its Context finishes with it; the next request of that name starts
// a fresh session). Sizes are measured when a request is done with a session (settleSession).
//
// Threads: all operations are safe to call concurrently.
#pragma once

#include <chrono>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "connector/framework/BatchRouter.hpp"
#include "connector/framework/Context.hpp"
#include "connector/framework/ContextState.hpp"
#include "connector/framework/SessionLimits.hpp"
#include "connector/framework/Visibility.hpp"

namespace connector::http {

class CONNECTOR_FRAMEWORK_API HttpSessionManager {
  public:
    // router: what the contexts of new sessions send batches onward through.
    explicit HttpSessionManager(std::weak_ptr<BatchRouter> router = {}, SessionLimits limits = {});
    virtual ~HttpSessionManager();

    // useSession: the context of session `id` (created on first use); it becomes the last used
    // and the most recently used. Sessions idle for longer than the time-out are dropped first.
    std::shared_ptr<Context> useSession(const std::string& id);
    // settleSession: measures session `id` again after a request changed it, then drops least
    // recently used sessions (this one last) while the store is over its memory budget.
    void settleSession(const std::string& id);
    // lastUsedSessionState: the state of the session used most recently, or empty if none.
    virtual std::shared_ptr<common::ContextState> lastUsedSessionState() const;
    std::size_t sessionCount() const;

  private:
    using Clock = std::chrono::steady_clock;
    struct Session {
        std::string id;
        std::shared_ptr<Context> context;
        Clock::time_point lastUse;
        std::size_t bytes;
    };
    using Recency = std::list<Session>;  // most recently used first

    void dropIdle(Clock::time_point now);
    void drop(Recency::iterator session);

    std::weak_ptr<BatchRouter> router;
    SessionLimits limits;
    mutable std::mutex mutex;
    Recency recency;
    std::unordered_map<std::string, Recency::iterator> byId;
    std::size_t bytesInUse = 0;
    std::shared_ptr<Context> lastUsed;
};

}  // namespace connector::http
