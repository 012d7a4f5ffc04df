// connector::ServiceProviderAPI<P>: the provider side of delivery, the one untyped entry point
// through which the framework hands a decoded message to provider interface P.
//
// deliver answers, inside the returned future, std::runtime_error "Service exists but is not
// running." while the provider is stopped, and std::invalid_argument "Incorrect message type.
// Expected: ... but found ..." for a message of another provider's family; otherwise it reaches
// the handle overload of the message's class. Exceptions thrown by a handle pass through.
// REQUIRES: the provider is owned by a std::shared_ptr (else std::bad_weak_ptr is thrown).
// Threads: no locks; any framework thread may call deliver concurrently.
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>

#include "connector/framework/Address.hpp"
#include "connector/framework/Future.hpp"
#include "connector/framework/Message.hpp"
#include "connector/framework/ServiceMessage.hpp"
#include "connector/framework/ServiceProvider.hpp"
#include "connector/framework/TypeName.hpp"
#include "connector/framework/Visibility.hpp"

namespace connector {

template <class P>
class CONNECTOR_FRAMEWORK_API ServiceProviderAPI : public std::enable_shared_from_this<P>,
                                                   public ServiceProvider {
  public:
    ~ServiceProviderAPI() override = default;

    void onStart() override {}
    void onStop() override {}

    [[nodiscard]] virtual Future<std::unique_ptr<Message>> deliver(
        std::unique_ptr<Message>&& message, Address&& address, std::shared_ptr<Context>&& context) {
        if (!isRunning()) {
            return makeErrorFuture<std::unique_ptr<Message>>(
                std::runtime_error("Service exists but is not running."));
        }
        auto* serviceMessage = dynamic_cast<ServiceMessage<P>*>(message.get());
        if (serviceMessage == nullptr) {
            return makeErrorFuture<std::unique_ptr<Message>>(std::invalid_argument(
                "Incorrect message type. Expected: " + typeName(typeid(ServiceMessage<P>)) +
                " but found " + detail::dynamicTypeName(message.get())));
        }
        std::shared_ptr<P> self = this->shared_from_this();
        return serviceMessage->deliverTo(std::move(self), std::move(message), std::move(address),
                                         std::move(context));
    }
};

}  // namespace connector
