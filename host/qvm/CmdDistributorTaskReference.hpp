// qvm::detail::CmdDistributorTaskReference: the task reference of a request submitted to a
// cmddistributor::CmdDistributor, found there by its IDType. Signalling its token asks the
// distributor to cancel the request. It holds the distributor weakly: a reference that outlives
// its distributor cancels nothing and runs continuations at once.
#pragma once

#include <boost/weak_ptr.hpp>

#include "host/Export.hpp"
#include "host/cmddistributor/IDType.hpp"
#include "host/qvm/TaskReference.hpp"

namespace cmddistributor {
class CmdDistributor;
}

namespace qvm::detail {

class QUORIX_HOST_API CmdDistributorTaskReference final : public TaskReference {
  public:
    CmdDistributorTaskReference(
        const boost::shared_ptr<cmddistributor::CmdDistributor>& distributor,
        cmddistributor::IDType id);
    ~CmdDistributorTaskReference() override;

    void addContinuation(std::function<void()> continuation) override;
    void setReadyToExecute() override;
    void cancel_callback(bool tokenAlreadySignalled) override;

    [[nodiscard]] const cmddistributor::IDType& getID() const noexcept { return id_; }
    [[nodiscard]] bool isReadyToExecute() const noexcept { return readyToExecute_.load(); }

  private:
    boost::weak_ptr<cmddistributor::CmdDistributor> distributor_;
    cmddistributor::IDType id_;
    std::atomic<bool> readyToExecute_{false};
};

}  // namespace qvm::detail
