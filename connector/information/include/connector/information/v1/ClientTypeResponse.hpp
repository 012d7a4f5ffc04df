// ClientTypeResponse: the answer to ClientType, with the properties recorded for the client.
// A plain value holder: owned through std::unique_ptr<connector::Message>, not copyable, used by
// one thread at a time.
#pragma once

#include <string>
#include <vector>

#include "connector/framework/CommonMessages.hpp"
#include "connector/framework/Message.hpp"
#include "connector/information/v1/Export.hpp"
#include "connector/information/v1/InformationTypes.hpp"

namespace connector::information::v1 {

class CONNECTOR_INFORMATION_API ClientTypeResponse : public connector::Message,
                                                     public connector::common::v1::Response {
  public:
    ClientTypeResponse(const std::string& uuid, const StringTable& properties,
                       std::vector<connector::common::v1::Fault>&& faults);
    ~ClientTypeResponse() override;

    StringTable properties;
};

}  // namespace connector::information::v1
