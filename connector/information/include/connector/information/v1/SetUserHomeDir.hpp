// SetUserHomeDir: stores the user's home directory (UTF-16, kept exactly as sent).
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

class CONNECTOR_INFORMATION_API SetUserHomeDir
    : public connector::MessageAPI<SetUserHomeDir, InformationServiceProvider>,
      public connector::common::v1::Message {
  public:
    explicit SetUserHomeDir(const std::u16string& userHomeDir);
    ~SetUserHomeDir() override;

    std::u16string userHomeDir;
};

}  // namespace connector::information::v1
