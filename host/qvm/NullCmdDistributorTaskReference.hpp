// qvm::detail::NullCmdDistributorTaskReference: the task reference of a future for which nothing
// was submitted (the engine had no distributor). There is no task to stop: cancelling does
// nothing beyond the flag and the token, and continuations run at once.
#pragma once

#include "host/Export.hpp"
#include "host/qvm/TaskReference.hpp"

namespace qvm::detail {

class QUORIX_HOST_API NullCmdDistributorTaskReference final : public TaskReference {
  public:
    ~NullCmdDistributorTaskReference() override;

    void addContinuation(std::function<void()> continuation) override;
    void setReadyToExecute() override {}
    void cancel_callback(bool /*tokenAlreadySignalled*/) override {}
};

}  // namespace qvm::detail
