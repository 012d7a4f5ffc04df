// connector::Context: the context of one request (itself a ContextState) and the way a service
// sends a batch onward: handle<Message, ContainerRequest>(batch, address) gives a Future of the
// answer of the framework's router.
//
// Ownership: held by std::shared_ptr (a session's context lives as long as its session). The
// router is referred to weakly, so that contexts never keep the framework alive.
// Errors: without a live router the future holds std::runtime_error "No router to send the batch
// onward."; routing errors travel inside the future. Threads: as ContextState.
#pragma once

#include <memory>
#include <type_traits>

#include "connector/framework/BatchRouter.hpp"
#include "connector/framework/ContainerMessages.hpp"
#include "connector/framework/ContextState.hpp"
#include "connector/framework/Visibility.hpp"

namespace connector {

class CONNECTOR_FRAMEWORK_API Context : public common::ContextState,
                                        public std::enable_shared_from_this<Context> {
  public:
    explicit Context(std::weak_ptr<BatchRouter> batchRouter = {})
        : router(std::move(batchRouter)) {}
    ~Context() override;

    // handle: sends `request` onward. Only <Message, ContainerRequest> is supported.
    template <class M, class Req>
    [[nodiscard]] Future<std::unique_ptr<M>> handle(std::unique_ptr<Req>&& request,
                                                    Address&& address) {
        static_assert(
            std::is_same_v<M, Message> && std::is_same_v<Req, container::v1::ContainerRequest>,
            "a context sends only container batches onward");
        return sendOnward(std::move(request), std::move(address));
    }

  private:
    Future<std::unique_ptr<Message>> sendOnward(
        std::unique_ptr<container::v1::ContainerRequest>&& request, Address&& address);

    std::weak_ptr<BatchRouter> router;
};

}  // namespace connector
