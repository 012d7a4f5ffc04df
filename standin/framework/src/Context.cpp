#include "connector/framework/Context.hpp"

#include <stdexcept>

namespace connector {

Context::~Context() = default;

Future<std::unique_ptr<Message>> Context::sendOnward(
    std::unique_ptr<container::v1::ContainerRequest>&& request, Address&& address) {
    std::shared_ptr<BatchRouter> live = router.lock();
    if (!live) {
        return makeErrorFuture<std::unique_ptr<Message>>(
            std::runtime_error("No router to send the batch onward."));
    }
    return live->routeBatch(std::move(request), std::move(address), weak_from_this().lock());
}

}  // namespace connector
