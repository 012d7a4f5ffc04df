#include "tools/connector-host/http/ConnectionReclaim.hpp"

namespace connectorhost {

std::optional<std::size_t> chooseReclaim(const std::vector<ConnectionActivity>& connections,
                                         std::chrono::steady_clock::time_point now) {
    std::optional<std::size_t> idlest;
    std::optional<std::size_t> stalledWrite;
    std::optional<std::size_t> slowest;
    double slowestRate = 0;
    const auto earlier = [&](const std::optional<std::size_t>& chosen, std::size_t i) {
        return !chosen || connections[i].since < connections[*chosen].since;
    };
    for (std::size_t i = 0; i < connections.size(); ++i) {
        const ConnectionActivity& c = connections[i];
        const bool stalled = now - c.since >= STALL_AGE;
        if (c.phase == ConnectionPhase::Idle) {
            if (earlier(idlest, i)) idlest = i;
        } else if (c.phase == ConnectionPhase::Writing && stalled) {
            if (earlier(stalledWrite, i)) stalledWrite = i;
        } else if (c.phase == ConnectionPhase::Reading && stalled) {
            const double rate =
                static_cast<double>(c.bytes) / std::chrono::duration<double>(now - c.since).count();
            if (!slowest || rate < slowestRate) {
                slowest = i;
                slowestRate = rate;
            }
        }
    }
    return idlest ? idlest : stalledWrite ? stalledWrite : slowest;
}

}  // namespace connectorhost
