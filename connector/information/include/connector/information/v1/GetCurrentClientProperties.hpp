// GetCurrentClientProperties: asks for the properties recorded for the client being served. Has no
// uuid and no version. A plain value holder: owned through std::unique_ptr<connector::Message>, not
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

class CONNECTOR_INFORMATION_API GetCurrentClientProperties
    : public connector::MessageAPI<GetCurrentClientProperties, InformationServiceProvider> {
  public:
    GetCurrentClientProperties();
    ~GetCurrentClientProperties() override;
};

}  // namespace connector::information::v1
