#include "connector/information/v1/UserManagerImpl.hpp"

#include <utility>

namespace connector::information::v1 {

namespace {

std::uint64_t nextIdentity() {
    static std::atomic<std::uint64_t> issued{0};
    return issued.fetch_add(1, std::memory_order_relaxed) + 1;  // 0 marks an empty copy
}

// One thread's copy of the text of the holder it read last.
struct ThreadCopy {
    std::uint64_t holder = 0;
    std::uint64_t generation = 0;
    std::u16string text;
};

thread_local ThreadCopy threadCopy;

}  // namespace

UserManager::~UserManager() = default;

UserManagerImpl::UserManagerImpl() : identity(nextIdentity()) {}
UserManagerImpl::~UserManagerImpl() = default;

void UserManagerImpl::setUserHomeDir(std::u16string text) {
    std::lock_guard<std::mutex> lock(homeDirMutex);
    homeDir.swap(text);  // the old text is freed outside the lock, with `text`
    // Published after the text: a reader that sees the new generation refreshes its copy, and one
    // that still sees the old generation answers as if it had read just before this set.
    generation.fetch_add(1, std::memory_order_release);
}

std::u16string UserManagerImpl::getUserHomeDir() {
    ThreadCopy& copy = threadCopy;
    if (copy.holder == identity && copy.generation == generation.load(std::memory_order_acquire))
        return copy.text;
    std::lock_guard<std::mutex> lock(homeDirMutex);
    copy.text = homeDir;
    copy.generation = generation.load(std::memory_order_relaxed);
    copy.holder = identity;
    return copy.text;
}

}  // namespace connector::information::v1
