// evaluate: the work of one run of the engine stand-in's distributor, as CmdDistributor.hpp
// describes a run (lookup, inputs, result, and the errors a failure becomes). Internal to the
// distributor; nothing is raised out of it but for running out of memory while reporting one.
#pragma once

#include <boost/exception_ptr.hpp>
#include <memory>
#include <variant>

#include "host/cmddistributor/CmdDistributor.hpp"
#include "host/cmddistributor/CmdRequest.hpp"
#include "host/cmddistributor/IIPResult.hpp"
#include "host/cmddistributor/RunOptions.hpp"
#include "host/qvm/CancellationToken.hpp"
#include "host/qvm/FunctionRegistry.hpp"

namespace cmddistributor::detail {

// Outcome: the result of a run, or the error to give the caller.
using Outcome = std::variant<std::unique_ptr<IIPResult>, boost::exception_ptr>;

// evaluate: runs `request` with the registry's function of its name, writing to the sinks of
// `runOptions`; the function sees `cancellation`.
[[nodiscard]] Outcome evaluate(const qvm::FunctionRegistry& functions,
                               const DistributorOptions& options, const CmdRequest& request,
                               const qvm::CancellationToken& cancellation,
                               const RunOptions& runOptions);

}  // namespace cmddistributor::detail
