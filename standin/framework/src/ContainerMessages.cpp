#include "connector/framework/ContainerMessages.hpp"

#include <stdexcept>

#include "connector/framework/Context.hpp"

namespace connector::container::v1 {

ContainerRequest::~ContainerRequest() = default;
ContainerResponse::~ContainerResponse() = default;
ContainerServiceProvider::~ContainerServiceProvider() = default;

Future<std::unique_ptr<Message>> ContainerServiceProvider::handle(
    std::unique_ptr<ContainerResponse>&&, Address&&, std::shared_ptr<Context>&&) {
    return makeErrorFuture<std::unique_ptr<Message>>(
        std::runtime_error("ContainerResponse handler not implemented."));
}

Future<std::unique_ptr<Message>> ContainerServiceProvider::handle(
    std::unique_ptr<ContainerRequest>&&, Address&&, std::shared_ptr<Context>&&) {
    return makeErrorFuture<std::unique_ptr<Message>>(
        std::runtime_error("ContainerRequest handler not implemented."));
}

}  // namespace connector::container::v1
