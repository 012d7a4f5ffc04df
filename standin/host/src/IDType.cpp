#include "host/cmddistributor/IDType.hpp"

#include <atomic>

namespace cmddistributor {

IDType::IDType() {
    static std::atomic<std::uint64_t> last{0};
    value_ = last.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace cmddistributor
