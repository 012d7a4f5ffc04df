#include "connector/information/v1/UserManagerImpl.hpp"

#include <mutex>

namespace connector::information::v1 {

UserManager::~UserManager() = default;

UserManagerImpl::UserManagerImpl() = default;
UserManagerImpl::~UserManagerImpl() = default;

void UserManagerImpl::setUserHomeDir(std::u16string text) {
    std::unique_lock<std::shared_mutex> lock(homeDirMutex);
    homeDir.swap(text);  // the old text is freed outside the lock, with `text`
}

std::u16string UserManagerImpl::getUserHomeDir() {
    std::shared_lock<std::shared_mutex> lock(homeDirMutex);
    return homeDir;
}

}  // namespace connector::information::v1
