// connector::BatchRouter: what a Context sends a batch onward through. The framework's router
// delivers every message of the batch to the provider of its type and gathers the answers.
#pragma once

#include <memory>

#include "connector/framework/Address.hpp"
#include "connector/framework/Future.hpp"
#include "connector/framework/Message.hpp"
#include "connector/framework/Visibility.hpp"

namespace connector {

class Context;
namespace container::v1 {
class ContainerRequest;
}

class CONNECTOR_FRAMEWORK_API BatchRouter {
  public:
    virtual ~BatchRouter() = default;
    // routeBatch: delivers the batch with `context` as the request context; the future gives a
    // ContainerResponse, or the first error of the batch.
    [[nodiscard]] virtual Future<std::unique_ptr<Message>> routeBatch(
        std::unique_ptr<container::v1::ContainerRequest>&& batch, Address&& address,
        std::shared_ptr<Context> context) = 0;
};

}  // namespace connector
