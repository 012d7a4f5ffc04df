#include "connector/framework/JsonSerializer.hpp"

#include <mutex>
#include <stdexcept>

#include "connector/framework/TypeName.hpp"

namespace connector::json {

JsonSerializer::~JsonSerializer() = default;

void JsonSerializer::registerType(const std::string& typeName, const std::type_info& type,
                                  SerializerFn serializer, DeserializerFn deserializer) {
    const std::type_index identity(type);
    std::unique_lock<std::shared_mutex> lock(mutex);
    auto previous = byType.find(identity);
    if (previous != byType.end()) byName.erase(previous->second.typeName);
    auto previousName = byName.find(typeName);
    if (previousName != byName.end()) byType.erase(previousName->second.type);
    byName.insert_or_assign(typeName, Named{identity, deserializer});
    byType.insert_or_assign(identity,
                            Codec{typeName, std::move(serializer), std::move(deserializer)});
}

void JsonSerializer::unregisterType(const std::type_info& type) {
    std::unique_lock<std::shared_mutex> lock(mutex);
    auto found = byType.find(std::type_index(type));
    if (found == byType.end()) return;
    byName.erase(found->second.typeName);
    byType.erase(found);
}

JsonSerializer::Encoded JsonSerializer::serialize(const std::unique_ptr<Message>& message) const {
    if (!message) throw std::invalid_argument("Cannot encode an empty message pointer.");
    const Message& object = *message;  // typeid of a plain reference: nothing else evaluated
    const std::type_info& dynamicType = typeid(object);
    std::string name;
    SerializerFn serializer;
    {
        std::shared_lock<std::shared_mutex> lock(mutex);
        auto found = byType.find(std::type_index(dynamicType));
        if (found == byType.end()) {
            throw std::invalid_argument("No JSON serializer registered for class " +
                                        typeName(dynamicType));
        }
        name = found->second.typeName;
        serializer = found->second.serializer;
    }
    return Encoded{std::move(name), serializer(message)};
}

std::unique_ptr<Message> JsonSerializer::deserialize(const std::string& name,
                                                     Poco::JSON::Object::Ptr object) const {
    DeserializerFn deserializer;
    {
        std::shared_lock<std::shared_mutex> lock(mutex);
        auto found = byName.find(name);
        if (found == byName.end()) throw std::invalid_argument("Unknown message type: " + name);
        deserializer = found->second.deserializer;
    }
    return deserializer(std::move(object));
}

std::optional<std::string> JsonSerializer::typeNameOf(const Message& message) const {
    std::shared_lock<std::shared_mutex> lock(mutex);
    auto found = byType.find(std::type_index(typeid(message)));
    if (found == byType.end()) return std::nullopt;
    return found->second.typeName;
}

bool JsonSerializer::isRegistered(const std::string& name) const {
    std::shared_lock<std::shared_mutex> lock(mutex);
    return byName.count(name) != 0;
}

}  // namespace connector::json
