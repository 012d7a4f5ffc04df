// connector::container::v1::ContainerRequest and ContainerResponse: batches of owned messages
// grouped by short type name (the type name without "connector/v1/"), e.g. "ClientType" or
// "EnabledFeaturesResponse". Both are delivered to a ContainerServiceProvider. Plain holders: one
// thread at a time.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "connector/framework/ContainerServiceProvider.hpp"
#include "connector/framework/Message.hpp"
#include "connector/framework/ServiceMessage.hpp"
#include "connector/framework/Visibility.hpp"

namespace connector::container::v1 {

// MessageTable: short type name to the messages of that type, in arrival order.
using MessageTable = std::map<std::string, std::vector<std::unique_ptr<Message>>>;

class CONNECTOR_FRAMEWORK_API ContainerRequest
    : public MessageAPI<ContainerRequest, ContainerServiceProvider> {
  public:
    ContainerRequest() = default;
    explicit ContainerRequest(MessageTable&& table) : messages(std::move(table)) {}
    ~ContainerRequest() override;

    MessageTable messages;
};

class CONNECTOR_FRAMEWORK_API ContainerResponse
    : public MessageAPI<ContainerResponse, ContainerServiceProvider> {
  public:
    ContainerResponse() = default;
    explicit ContainerResponse(MessageTable&& table) : messages(std::move(table)) {}
    ~ContainerResponse() override;

    MessageTable messages;
};

}  // namespace connector::container::v1
