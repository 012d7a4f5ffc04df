// cmddistributor::inExecutionStatus: how a run ended, as results and host errors report it.
#pragma once

#include <cstdint>
#include <ostream>

namespace cmddistributor {

enum class inExecutionStatus : std::int32_t {
    Completed = 0,    // the run gave its outputs
    Error = 1,        // the host function, or the engine on its behalf, raised an error
    Unavailable = 2,  // the engine could not take the run at all (e.g. no distributor)
    Interrupted = 3,  // the run was cancelled before it could finish
};

inline std::ostream& operator<<(std::ostream& out, inExecutionStatus status) {
    switch (status) {
        case inExecutionStatus::Completed:
            return out << "Completed";
        case inExecutionStatus::Error:
            return out << "Error";
        case inExecutionStatus::Unavailable:
            return out << "Unavailable";
        case inExecutionStatus::Interrupted:
            return out << "Interrupted";
    }
    return out << "inExecutionStatus(" << static_cast<std::int32_t>(status) << ")";
}

}  // namespace cmddistributor
