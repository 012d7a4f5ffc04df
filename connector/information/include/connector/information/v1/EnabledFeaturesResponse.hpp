// EnabledFeaturesResponse: flag name to enabled, and the host's version text (UTF-16).
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

class CONNECTOR_INFORMATION_API EnabledFeaturesResponse : public connector::Message,
                                                          public connector::common::v1::Response {
  public:
    EnabledFeaturesResponse(const std::string& uuid, const FlagTable& flags,
                            const std::u16string& quorixVersion,
                            std::vector<connector::common::v1::Fault>&& faults);
    // Handler form: the table is moved in and the caller's is left empty.
    EnabledFeaturesResponse(FlagTable&& flags, const std::u16string& quorixVersion);
    ~EnabledFeaturesResponse() override;

    FlagTable features;
    std::u16string quorixVersion;
};

}  // namespace connector::information::v1
