// Decoding a validated envelope's message, and encoding the answer of a service.
#include <Poco/JSON/Array.h>

#include "connector/framework/ContainerMessages.hpp"
#include "tools/connector-host/core/Envelope.hpp"
#include "tools/connector-host/core/ErrorKind.hpp"

namespace connectorhost {
namespace {

using connector::MessageRouter;
using connector::container::v1::ContainerRequest;
using connector::container::v1::ContainerResponse;
using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;

std::unique_ptr<connector::Message> decodeOne(const HostRuntime& runtime, const std::string& type,
                                              const Object::Ptr& object) {
    try {
        return runtime.serializer->deserialize(type, object);
    } catch (const std::exception& e) {
        throw RequestError(ErrorKind::DecodeError, e.what());
    }
}

Object::Ptr orderedObject() {
    return new Object(Poco::JSON_PRESERVE_KEY_ORDER);
}

Object::Ptr encodeContainer(const HostRuntime& runtime, ContainerResponse& container) {
    Object::Ptr groups = orderedObject();
    for (auto& [shortName, messages] : container.messages) {
        Array::Ptr list = new Array;
        for (auto& message : messages) {
            list->add(runtime.serializer->serialize(message).object);
            message.reset();  // what is encoded need not be kept twice
        }
        groups->set(shortName, list);
    }
    Object::Ptr message = orderedObject();
    message->set("messages", groups);
    return message;
}

}  // namespace

std::unique_ptr<connector::Message> decode(const Request& request, const HostRuntime& runtime) {
    if (request.type != HostRuntime::containerRequestType())
        return decodeOne(runtime, request.type, request.message);
    auto batch = std::make_unique<ContainerRequest>();
    for (const auto& [shortName, list] : *request.message->getObject("messages")) {
        auto& messages = batch->messages[shortName];
        for (const Var& element : *list.extract<Array::Ptr>())
            messages.push_back(decodeOne(runtime, MessageRouter::TYPE_PREFIX + shortName,
                                         element.extract<Object::Ptr>()));
    }
    return batch;
}

void encode(const HostRuntime& runtime, std::unique_ptr<connector::Message> response,
            Object& answer) {
    try {
        if (auto* container = dynamic_cast<ContainerResponse*>(response.get())) {
            answer.set("type", HostRuntime::containerResponseType());
            answer.set("message", encodeContainer(runtime, *container));
        } else {
            auto encoded = runtime.serializer->serialize(response);
            answer.set("type", encoded.typeName);
            answer.set("message", encoded.object);
        }
    } catch (const std::exception& e) {
        throw RequestError(ErrorKind::EncodeError, e.what());
    }
}

}  // namespace connectorhost
