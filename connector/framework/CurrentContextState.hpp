// connector::qvm_common::getCurrentContextState: the context state of the client whose request
// the calling thread is serving now, or an empty pointer when it serves none.
//
// The framework marks the client with a CurrentContextStateScope for the duration of a request;
// scopes nest and are per thread, so concurrent requests on different threads never see each
// other's client.
#pragma once

#include <memory>

#include "connector/framework/ContextState.hpp"
#include "connector/framework/Visibility.hpp"

namespace connector::qvm_common {

CONNECTOR_FRAMEWORK_API std::shared_ptr<common::ContextState> getCurrentContextState();

// CurrentContextStateScope: makes `state` the current one on this thread until destroyed, then
// restores the one before. Not movable: it belongs to the stack frame that serves the request.
class CONNECTOR_FRAMEWORK_API CurrentContextStateScope {
  public:
    explicit CurrentContextStateScope(std::shared_ptr<common::ContextState> state);
    ~CurrentContextStateScope();
    CurrentContextStateScope(const CurrentContextStateScope&) = delete;
    CurrentContextStateScope& operator=(const CurrentContextStateScope&) = delete;

  private:
    std::shared_ptr<common::ContextState> previous;
};

}  // namespace connector::qvm_common
