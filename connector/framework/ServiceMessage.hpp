// connector::ServiceMessage<P> and connector::MessageAPI<Msg, P>: the message side of delivery.
//
// Every message class Msg that provider interface P accepts derives from MessageAPI<Msg, P>.
// deliverTo checks that it was handed its own object, then releases it into a
// std::unique_ptr<Msg> and calls P::handle for that class. A wrong object is answered with an
// error future (std::invalid_argument); nothing throws for it. Exceptions thrown by the handler
// itself pass through unchanged. No locks.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <typeinfo>

#include "connector/framework/Address.hpp"
#include "connector/framework/Future.hpp"
#include "connector/framework/Message.hpp"
#include "connector/framework/TypeName.hpp"
#include "connector/framework/Visibility.hpp"

namespace connector {

class Context;

namespace detail {
// The readable class of a message, or "nullptr" for an empty pointer.
inline std::string dynamicTypeName(const Message* message) {
    return message ? typeName(typeid(*message)) : std::string("nullptr");
}
}  // namespace detail

template <class P>
class CONNECTOR_FRAMEWORK_API ServiceMessage : public Message {
  public:
    // deliverTo: hands `self` (which must own this very object) to provider's typed handle.
    [[nodiscard]] virtual Future<std::unique_ptr<Message>> deliverTo(
        std::shared_ptr<P> provider, std::unique_ptr<Message>&& self, Address&& address,
        std::shared_ptr<Context>&& context) = 0;
};

template <class Msg, class P>
class CONNECTOR_FRAMEWORK_API MessageAPI : public ServiceMessage<P> {
  public:
    [[nodiscard]] Future<std::unique_ptr<Message>> deliverTo(
        std::shared_ptr<P> provider, std::unique_ptr<Message>&& self, Address&& address,
        std::shared_ptr<Context>&& context) override {
        if (self.get() != static_cast<Message*>(this)) {
            return makeErrorFuture<std::unique_ptr<Message>>(std::invalid_argument(
                "Unable to deliver to service. Incorrect message type. Expected: " +
                typeName(typeid(*this)) + " but found " + detail::dynamicTypeName(self.get())));
        }
        std::unique_ptr<Msg> typed(static_cast<Msg*>(self.release()));
        return provider->handle(std::move(typed), std::move(address), std::move(context));
    }
};

}  // namespace connector
