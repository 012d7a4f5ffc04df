// UserManagerImpl: the in-memory home directory. The text is kept exactly as received (UTF-16
// code units, never converted, trimmed or validated).
// Threads: set and get may run concurrently; a reader gets either the old or the new text whole
// (readers share the lock, a set takes it alone).
#pragma once

#include <shared_mutex>
#include <string>

#include "connector/information/v1/Export.hpp"
#include "connector/information/v1/UserManager.hpp"

namespace connector::information::v1 {

class CONNECTOR_INFORMATION_API UserManagerImpl : public UserManager {
  public:
    UserManagerImpl();
    ~UserManagerImpl() override;

    void setUserHomeDir(std::u16string text) override;
    std::u16string getUserHomeDir() override;

  private:
    std::u16string homeDir;
    std::shared_mutex homeDirMutex;
};

}  // namespace connector::information::v1
