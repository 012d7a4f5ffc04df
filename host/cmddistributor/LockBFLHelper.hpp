// cmddistributor::detail::LockBFLHelper: the host's scoped lock around its array library. Holding
// one serialises every piece of code that touches host arrays for a run. The lock is recursive,
// so code that already holds it may call code that takes it again. Not copyable or movable.
#pragma once

#include <mutex>

#include "host/Export.hpp"

namespace cmddistributor::detail {

class QUORIX_HOST_API LockBFLHelper {
  public:
    LockBFLHelper();
    ~LockBFLHelper();
    LockBFLHelper(const LockBFLHelper&) = delete;
    LockBFLHelper& operator=(const LockBFLHelper&) = delete;

  private:
    std::unique_lock<std::recursive_mutex> lock_;
};

}  // namespace cmddistributor::detail
