// connectorhost::chooseReclaim: which open connection to close so that a waiting client can be
// served, once the connection cap or the open-files limit is reached. As mature servers reclaim
// idle keep-alive connections under pressure:
//
//   1. a connection with no request in progress (none has started since it opened or since its
//      last answer), the longest idle first;
//   2. else an answer whose client has taken none of it for at least STALL_AGE (its socket is
//      full: the client sends but does not read), the longest stalled first;
//   3. else a request that has been arriving for at least STALL_AGE, the slowest (fewest bytes
//      per second) first: on a loopback port only a stalled or hostile client is that slow.
//
// A connection whose request is being processed, or whose answer its client is still taking, is
// never chosen: the waiting client waits for a slot instead. Threads: a pure function.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace connectorhost {

enum class ConnectionPhase : std::uint8_t {
    Idle,       // no byte of a request yet
    Reading,    // a request is arriving
    Busy,       // a request is processed, or its answer handed to the socket at once
    Writing,    // an answer waits for its client to take more of it
    Reclaimed,  // chosen, and closing
};

struct ConnectionActivity {
    ConnectionPhase phase;
    // Idle since, the request's first byte, or the last byte its client took of an answer.
    std::chrono::steady_clock::time_point since;
    std::uint64_t bytes;  // of the request in progress
};

inline constexpr std::chrono::milliseconds STALL_AGE{500};

// chooseReclaim: the index of the connection to reclaim, or nothing.
[[nodiscard]] std::optional<std::size_t> chooseReclaim(
    const std::vector<ConnectionActivity>& connections, std::chrono::steady_clock::time_point now);

}  // namespace connectorhost
