// EnabledFeatures: asks which of the named feature flags are enabled (all of them when empty).
// A plain value holder: owned through std::unique_ptr<connector::Message>, not copyable, used by
// one thread at a time.
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

class CONNECTOR_INFORMATION_API EnabledFeatures
    : public connector::MessageAPI<EnabledFeatures, InformationServiceProvider>,
      public connector::common::v1::Message {
  public:
    EnabledFeatures(const std::string& uuid, std::vector<std::string>&& names);
    ~EnabledFeatures() override;

    // Flag names; moved in, the caller's list is left empty.
    std::vector<std::string> features;
};

}  // namespace connector::information::v1
