// cmddistributor::IIPResult: the outcome of one successful run, handed to the request's
// delegate (PromiseDelegate::completeWithResult). Concrete results say what they carry;
// FEvalResult is the one of function evaluations. Owned by std::unique_ptr.
#pragma once

#include "host/Export.hpp"
#include "host/cmddistributor/ExecutionStatus.hpp"

namespace cmddistributor {

class QUORIX_HOST_API IIPResult {
  public:
    virtual ~IIPResult();
    [[nodiscard]] virtual inExecutionStatus getExecutionStatus() const noexcept = 0;
};

}  // namespace cmddistributor
