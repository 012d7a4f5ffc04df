// connector::http::SessionLimits: how long HttpSessionManager keeps an unused session and how
// much all its sessions may hold. A plain value.
#pragma once

#include <chrono>
#include <cstddef>

namespace connector::http {

struct SessionLimits {
    std::chrono::steady_clock::duration idleTimeout = std::chrono::minutes(30);
    std::size_t memoryBudget = std::size_t{64} << 20;
};

}  // namespace connector::http
