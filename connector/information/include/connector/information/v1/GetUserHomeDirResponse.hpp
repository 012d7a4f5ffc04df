// GetUserHomeDirResponse: the home directory last stored (UTF-16), empty before any.
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

class CONNECTOR_INFORMATION_API GetUserHomeDirResponse : public connector::Message,
                                                         public connector::common::v1::Response {
  public:
    explicit GetUserHomeDirResponse(const std::u16string& userHomeDir);
    ~GetUserHomeDirResponse() override;

    std::u16string userHomeDir;
};

}  // namespace connector::information::v1
