// UserManager: holds the user's home directory for the information service, in memory only.
#pragma once

#include <string>

#include "connector/information/v1/Export.hpp"

namespace connector::information::v1 {

class CONNECTOR_INFORMATION_API UserManager {
  public:
    virtual ~UserManager();
    // setUserHomeDir: replaces the stored text, whatever it was (empty included).
    virtual void setUserHomeDir(std::u16string homeDir) = 0;
    // getUserHomeDir: a copy of the text last stored; empty before any.
    virtual std::u16string getUserHomeDir() = 0;
};

}  // namespace connector::information::v1
