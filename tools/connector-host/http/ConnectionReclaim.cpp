#include "tools/connector-host/http/ConnectionReclaim.hpp"

namespace connectorhost {

std::optional<std::size_t> chooseReclaim(const std::vector<ConnectionActivity>& connections,
                                         std::chrono::steady_clock::time_point now) {
    std::optional<std::size_t> idlest;
    std::optional<std::size_t> slowest;
    double slowestRate = 0;
    for (std::size_t i = 0; i < connections.size(); ++i) {
        const ConnectionActivity& c = connections[i];
        if (c.phase == ConnectionPhase::Idle) {
            if (!idlest || c.since < connections[*idlest].since) idlest = i;
        } else if (c.phase == ConnectionPhase::Reading && now - c.since >= SLOW_REQUEST_AGE) {
            const double rate =
                static_cast<double>(c.bytes) / std::chrono::duration<double>(now - c.since).count();
            if (!slowest || rate < slowestRate) {
                slowest = i;
                slowestRate = rate;
            }
        }
    }
    return idlest ? idlest : slowest;
}

}  // namespace connectorhost
