#include "connector/framework/CurrentContextState.hpp"

#include <utility>

namespace connector::qvm_common {
namespace {
thread_local std::shared_ptr<common::ContextState> currentState;
}

std::shared_ptr<common::ContextState> getCurrentContextState() {
    return currentState;
}

CurrentContextStateScope::CurrentContextStateScope(std::shared_ptr<common::ContextState> state)
    : previous(std::exchange(currentState, std::move(state))) {}

CurrentContextStateScope::~CurrentContextStateScope() {
    currentState = std::move(previous);
}

}  // namespace connector::qvm_common
