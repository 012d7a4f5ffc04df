// Which connection is reclaimed for a waiting client, and which never is.
#include <gtest/gtest.h>

#include "tools/connector-host/http/ConnectionReclaim.hpp"

namespace connectorhost {
namespace {

using namespace std::chrono_literals;
using Phase = ConnectionPhase;
const auto NOW = std::chrono::steady_clock::time_point(1h);

ConnectionActivity at(Phase phase, std::chrono::milliseconds ago, std::uint64_t bytes = 0) {
    return {phase, NOW - ago, bytes};
}

TEST(ConnectionReclaimTest, IdleFirstThenTheLongestStalledAnswerThenTheSlowestRequest) {
    EXPECT_EQ(
        chooseReclaim({at(Phase::Idle, 10ms), at(Phase::Idle, 30ms), at(Phase::Idle, 20ms)}, NOW),
        1u);
    // An idle connection goes before any request or answer, however stalled.
    EXPECT_EQ(chooseReclaim(
                  {at(Phase::Reading, 9s, 1), at(Phase::Writing, 9s), at(Phase::Idle, 1ms)}, NOW),
              2u);
    // Then an answer its client has not taken from for at least STALL_AGE, the longest first,
    // before any slow request.
    EXPECT_EQ(chooseReclaim({at(Phase::Reading, 9s, 1), at(Phase::Writing, 1s),
                             at(Phase::Writing, 2s), at(Phase::Writing, STALL_AGE - 1ms)},
                            NOW),
              2u);
    EXPECT_EQ(chooseReclaim({at(Phase::Writing, STALL_AGE - 1ms)}, NOW), std::nullopt);
    EXPECT_EQ(chooseReclaim({at(Phase::Writing, STALL_AGE)}, NOW), 0u);
    // Among requests arriving for at least STALL_AGE: the fewest bytes per second.
    EXPECT_EQ(chooseReclaim({at(Phase::Reading, 1s, 100), at(Phase::Reading, 4s, 200),
                             at(Phase::Reading, 2s, 150)},
                            NOW),
              1u);
    // A request younger than STALL_AGE, one being processed, or one already reclaimed:
    // nothing to take.
    EXPECT_EQ(chooseReclaim({at(Phase::Reading, STALL_AGE - 1ms, 0), at(Phase::Busy, 9s),
                             at(Phase::Reclaimed, 9s)},
                            NOW),
              std::nullopt);
    EXPECT_EQ(chooseReclaim({at(Phase::Reading, STALL_AGE, 0)}, NOW), 0u);
    EXPECT_EQ(chooseReclaim({}, NOW), std::nullopt);
}

}  // namespace
}  // namespace connectorhost
