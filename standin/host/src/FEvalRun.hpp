// evaluate: the work of one run of the engine stand-in's distributor. It looks the function up
// by name in the function registry, gives it its inputs (taken from the payload in the form
// DistributorOptions::inputs selects) and makes an FEvalResult of its outputs (in the form
// DistributorOptions::result selects). Internal to the distributor.
//
// Failures become the errors for the caller listed at the top of CmdDistributor.hpp; nothing
// is raised out of evaluate but for running out of memory while reporting one.
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
