// ClientType: a client announcing its base client type in its properties; it travels inside a
// container batch. A plain value holder: owned through std::unique_ptr<connector::Message>, not
// copyable, used by one thread at a time.
#pragma once

#include <string>
#include <vector>

#include "connector/framework/CommonMessages.hpp"
#include "connector/framework/Message.hpp"
#include "connector/information/v1/Export.hpp"
#include "connector/information/v1/InformationTypes.hpp"

namespace connector::information::v1 {

class CONNECTOR_INFORMATION_API ClientType : public connector::Message,
                                             public connector::common::v1::Message {
  public:
    ClientType(const std::string& uuid, const StringTable& properties);
    ~ClientType() override;

    StringTable properties;
};

}  // namespace connector::information::v1
