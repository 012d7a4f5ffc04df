// connector::container::v1::ContainerServiceProvider: the provider interface for batches of
// messages (ContainerRequest / ContainerResponse). Its default handlers answer error futures
// (std::runtime_error "ContainerRequest handler not implemented." and "ContainerResponse handler
// not implemented."); an implementation overrides the ones it serves.
#pragma once

#include <memory>

#include "connector/framework/ServiceProviderAPI.hpp"
#include "connector/framework/Visibility.hpp"

namespace connector::container::v1 {

class ContainerRequest;
class ContainerResponse;

class CONNECTOR_FRAMEWORK_API ContainerServiceProvider
    : public ServiceProviderAPI<ContainerServiceProvider> {
  public:
    ~ContainerServiceProvider() override;

    [[nodiscard]] virtual Future<std::unique_ptr<Message>> handle(
        std::unique_ptr<ContainerResponse>&& response, Address&& address,
        std::shared_ptr<Context>&& context);
    [[nodiscard]] virtual Future<std::unique_ptr<Message>> handle(
        std::unique_ptr<ContainerRequest>&& request, Address&& address,
        std::shared_ptr<Context>&& context);
};

}  // namespace connector::container::v1
