// connector::common::Lifecycle and connector::ServiceProvider: the base of every provider.
// The framework sets and clears the running flag (setRunning); delivery and host evaluations
// read it (isRunning). The flag is atomic, so it may be flipped while other threads deliver.
//
// Work in flight that cannot look at the flag while it runs (a host evaluation run by the very
// thread that waits for it) is told of a stop instead: it lists a StopListener with the provider
// while it runs, and setRunning(false) calls the listener's stopped() before it returns.
#pragma once

#include <atomic>
#include <boost/intrusive/list.hpp>
#include <mutex>

#include "connector/framework/Visibility.hpp"

namespace connector {
namespace common {

// Lifecycle: the two hooks the framework calls when it starts and stops a service.
class CONNECTOR_FRAMEWORK_API Lifecycle {
  public:
    virtual ~Lifecycle() = default;
    virtual void onStart() = 0;
    virtual void onStop() = 0;
};

}  // namespace common

// StopListener: told when the provider it is listed with stops. stopped() runs on the thread
// that clears the running flag, under the provider's listener lock: it must return promptly and
// must not list or unlist a listener of the same provider.
class CONNECTOR_FRAMEWORK_API StopListener
    : public boost::intrusive::list_base_hook<
          boost::intrusive::link_mode<boost::intrusive::normal_link>> {
  public:
    virtual void stopped() noexcept = 0;

  protected:
    StopListener() = default;
    ~StopListener() = default;
};

class CONNECTOR_FRAMEWORK_API ServiceProvider : public common::Lifecycle {
  public:
    // isRunning: false until the framework starts the provider; read once per delivery.
    bool isRunning() const noexcept { return running.load(std::memory_order_acquire); }
    // setRunning: false also tells every listed StopListener, before returning.
    void setRunning(bool value) noexcept {
        running.store(value, std::memory_order_release);
        if (value) return;
        std::lock_guard<std::mutex> lock(stopMutex);
        for (StopListener& listener : stopListeners) listener.stopped();
    }

    // listen / unlisten: `listener` is told of a stop from listen until unlisten (which waits
    // for a stopped() under way to return). A stop that comes before listen is not told: read
    // isRunning after listen. Const, as the work in flight holds its provider as const.
    void listen(StopListener& listener) const noexcept {
        std::lock_guard<std::mutex> lock(stopMutex);
        stopListeners.push_back(listener);
    }
    void unlisten(StopListener& listener) const noexcept {
        std::lock_guard<std::mutex> lock(stopMutex);
        stopListeners.erase(stopListeners.iterator_to(listener));
    }

  private:
    std::atomic<bool> running{false};
    mutable std::mutex stopMutex;
    mutable boost::intrusive::list<StopListener, boost::intrusive::constant_time_size<false>>
        stopListeners;
};

}  // namespace connector
