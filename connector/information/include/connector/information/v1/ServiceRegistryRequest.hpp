// ServiceRegistryRequest: asks for the endpoint of the service named under "service" in its
// properties. A plain value holder: owned through std::unique_ptr<connector::Message>, not
// copyable, used by one thread at a time.
#pragma once

#include <string>
#include <vector>

#include "connector/framework/CommonMessages.hpp"
#include "connector/framework/Message.hpp"
#include "connector/framework/ServiceMessage.hpp"
#include "connector/information/v1/Export.hpp"
#include "connector/information/v1/InformationServiceProvider.hpp"
#include "connector/information/v1/InformationTypes.hpp"

namespace connector::information::v1 {

class CONNECTOR_INFORMATION_API ServiceRegistryRequest
    : public connector::MessageAPI<ServiceRegistryRequest, InformationServiceProvider>,
      public connector::common::v1::Message {
  public:
    ServiceRegistryRequest(const std::string& uuid, const StringTable& properties);
    ~ServiceRegistryRequest() override;

    StringTable properties;
};

}  // namespace connector::information::v1
