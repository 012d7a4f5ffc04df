// GetCurrentClientPropertiesResponse: the client's recorded properties; not a protocol Response (no
// uuid, version or faults). A plain value holder: owned through
// std::unique_ptr<connector::Message>, not copyable, used by one thread at a time.
#pragma once

#include <string>
#include <vector>

#include "connector/framework/CommonMessages.hpp"
#include "connector/framework/Message.hpp"
#include "connector/information/v1/Export.hpp"
#include "connector/information/v1/InformationTypes.hpp"

namespace connector::information::v1 {

class CONNECTOR_INFORMATION_API GetCurrentClientPropertiesResponse : public connector::Message {
  public:
    explicit GetCurrentClientPropertiesResponse(const StringTable& properties);
    ~GetCurrentClientPropertiesResponse() override;

    StringTable properties;
};

}  // namespace connector::information::v1
