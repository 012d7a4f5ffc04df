// qvm::HostFunction and qvm::FunctionRegistry: the engine's functions, registered by name.
//
// A host function takes its call (inputs, output count, sinks, cancellation) and gives its output
// arrays, which the engine then owns, or raises a host error (qxutil::except::QXException, a
// cmddistributor::RuntimeException, or any std::exception). It runs on the engine's worker
// thread. See qvm/HostFunctions.hpp for ready-made functions.
//
// The registry is thread-safe: functions may be added or replaced while others run; a run keeps
// the function it looked up.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/Export.hpp"
#include "host/matrix/Array.hpp"
#include "host/qvm/HostCall.hpp"

namespace qvm {

using HostFunction = std::function<std::vector<matrix::UniqueArray>(HostCall&)>;

class QUORIX_HOST_API FunctionRegistry {
  public:
    // add: registers `function` under `name`, replacing any function of that name.
    void add(const std::string& name, HostFunction function);
    // remove: gives whether a function of that name was registered.
    bool remove(const std::string& name);
    // find: the function registered under `name`, shared (a run keeps it while the name is
    // replaced); empty if there is none.
    [[nodiscard]] std::shared_ptr<const HostFunction> find(const std::string& name) const;

  private:
    mutable std::mutex mutex_;
    std::unordered_map<std::string, std::shared_ptr<const HostFunction>> functions_;
};

}  // namespace qvm
