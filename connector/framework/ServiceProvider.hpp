// connector::common::Lifecycle and connector::ServiceProvider: the base of every provider.
// The framework sets and clears the running flag (setRunning); delivery and host evaluations
// read it (isRunning). The flag is atomic, so it may be flipped while other threads deliver.
#pragma once

#include <atomic>

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

class CONNECTOR_FRAMEWORK_API ServiceProvider : public common::Lifecycle {
  public:
    // isRunning: false until the framework starts the provider; read once per delivery.
    bool isRunning() const noexcept { return running.load(std::memory_order_acquire); }
    void setRunning(bool value) noexcept { running.store(value, std::memory_order_release); }

  private:
    std::atomic<bool> running{false};
};

}  // namespace connector
