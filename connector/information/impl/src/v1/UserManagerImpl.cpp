#include "v1/UserManagerImpl.hpp"

#include <utility>

namespace connector::information::v1 {

UserManager::~UserManager() = default;

UserManagerImpl::UserManagerImpl() = default;
UserManagerImpl::~UserManagerImpl() = default;

void UserManagerImpl::setUserHomeDir(std::u16string text) {
    std::lock_guard<std::mutex> lock(homeDirMutex);
    homeDir.swap(text);  // the old text is freed outside the lock, with `text`
}

std::u16string UserManagerImpl::getUserHomeDir() {
    std::lock_guard<std::mutex> lock(homeDirMutex);
    return homeDir;
}

}  // namespace connector::information::v1
