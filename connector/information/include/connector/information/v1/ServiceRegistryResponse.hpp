// ServiceRegistryResponse: the service name and its endpoint, or a fault when the request named
// none. A plain value holder: owned through std::unique_ptr<connector::Message>, not copyable, used
// by one thread at a time.
#pragma once

#include <string>
#include <vector>

#include "connector/framework/CommonMessages.hpp"
#include "connector/framework/Message.hpp"
#include "connector/information/v1/Export.hpp"
#include "connector/information/v1/InformationTypes.hpp"

namespace connector::information::v1 {

class CONNECTOR_INFORMATION_API ServiceRegistryResponse : public connector::Message,
                                                          public connector::common::v1::Response {
  public:
    ServiceRegistryResponse(const std::string& uuid, const StringTable& properties,
                            std::vector<connector::common::v1::Fault>&& faults);
    // Success form.
    explicit ServiceRegistryResponse(const StringTable& properties);
    // Failure form: the faults moved in, no properties.
    explicit ServiceRegistryResponse(std::vector<connector::common::v1::Fault>&& faults);
    ~ServiceRegistryResponse() override;

    StringTable properties;
};

}  // namespace connector::information::v1
