#include "host/log/DiagnosticLogger.hpp"

#include <atomic>
#include <climits>

namespace foundation::log {
namespace {

constexpr unsigned NOTHING = UINT_MAX;
std::atomic<unsigned> minimumLevel{NOTHING};

}  // namespace

void set_minimum_level(unsigned level) {
    minimumLevel.store(level, std::memory_order_relaxed);
}

void disable() {
    minimumLevel.store(NOTHING, std::memory_order_relaxed);
}

basic_diagnostic_logger::basic_diagnostic_logger(const std::string& channel)
    : channel_(channel), logger_(boost::log::keywords::channel = channel) {}

bool basic_diagnostic_logger::is_enabled(unsigned level) const noexcept {
    const unsigned minimum = minimumLevel.load(std::memory_order_relaxed);
    return minimum != NOTHING && level >= minimum;
}

}  // namespace foundation::log
