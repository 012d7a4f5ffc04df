// UserManagerImpl: the in-memory home directory. The text is kept exactly as received (UTF-16
// code units, never converted, trimmed or validated).
// Threads: set and get may run concurrently; a reader gets either the old or the new text whole.
// Reads do not write to anything shared: each thread keeps its own copy of the text together with
// the generation it was copied at, and only a changed generation (a set since) sends it to the
// mutex for a fresh copy. Concurrent GetUserHomeDir requests therefore do not contend.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "connector/information/v1/Export.hpp"
#include "connector/information/v1/UserManager.hpp"

namespace connector::information::v1 {

class CONNECTOR_INFORMATION_API UserManagerImpl : public UserManager {
  public:
    UserManagerImpl();
    ~UserManagerImpl() override;

    void setUserHomeDir(std::u16string homeDir) override;
    std::u16string getUserHomeDir() override;

  private:
    std::u16string homeDir;
    std::mutex homeDirMutex;  // guards homeDir; generation is written under it as well
    // Counts the sets; a thread's copy of homeDir is current while it carries this value.
    std::atomic<std::uint64_t> generation{0};
    // Tells this holder's copies from those of another holder, even one at the same address.
    const std::uint64_t identity;
};

}  // namespace connector::information::v1
