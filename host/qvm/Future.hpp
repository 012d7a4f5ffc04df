// qvm::Future<T>: the future of a task started in the engine, together with the task's
// reference (a CmdDistributorTaskReference, or a NullCmdDistributorTaskReference when nothing
// was submitted). The value comes through the boost::future base (wait_for, get, ...); the
// reference lets the holder ask the task to stop. Move-only.
#pragma once

#include <boost/shared_ptr.hpp>
#include <utility>

#include "host/foundation/concurrent/Future.hpp"
#include "host/qvm/TaskReference.hpp"

namespace qvm {

template <class T>
class Future : public foundation::concurrent::future<T> {
  public:
    Future() = default;
    Future(boost::future<T>&& source, boost::shared_ptr<TaskReference> task) noexcept
        : foundation::concurrent::future<T>(std::move(source)), task_(std::move(task)) {}
    Future(Future&&) = default;
    Future& operator=(Future&&) = default;

    [[nodiscard]] const boost::shared_ptr<TaskReference>& getTaskReference() const noexcept {
        return task_;
    }

  private:
    boost::shared_ptr<TaskReference> task_;
};

}  // namespace qvm
