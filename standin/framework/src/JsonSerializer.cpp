#include "connector/framework/JsonSerializer.hpp"

#include <stdexcept>

#include "connector/framework/TypeName.hpp"

namespace connector::json {

JsonSerializer::JsonSerializer() {
    std::lock_guard<std::mutex> lock(writeMutex);
    publish(std::make_unique<Table>());
}

JsonSerializer::~JsonSerializer() = default;

void JsonSerializer::publish(std::unique_ptr<Table> next) {
    tables.push_back(std::move(next));
    current.store(tables.back().get(), std::memory_order_release);
}

void JsonSerializer::registerType(const std::string& typeName, const std::type_info& type,
                                  SerializerFn serializer, DeserializerFn deserializer) {
    const std::type_index identity(type);
    std::lock_guard<std::mutex> lock(writeMutex);
    auto next = std::make_unique<Table>(table());
    auto previous = next->byType.find(identity);
    if (previous != next->byType.end()) next->byName.erase(previous->second.typeName);
    auto previousName = next->byName.find(typeName);
    if (previousName != next->byName.end()) next->byType.erase(previousName->second.type);
    next->byName.insert_or_assign(typeName, Named{identity, deserializer});
    next->byType.insert_or_assign(identity,
                                  Codec{typeName, std::move(serializer), std::move(deserializer)});
    publish(std::move(next));
}

void JsonSerializer::unregisterType(const std::type_info& type) {
    std::lock_guard<std::mutex> lock(writeMutex);
    if (table().byType.count(std::type_index(type)) == 0) return;
    auto next = std::make_unique<Table>(table());
    auto found = next->byType.find(std::type_index(type));
    next->byName.erase(found->second.typeName);
    next->byType.erase(found);
    publish(std::move(next));
}

JsonSerializer::Encoded JsonSerializer::serialize(const std::unique_ptr<Message>& message) const {
    if (!message) throw std::invalid_argument("Cannot encode an empty message pointer.");
    const Message& object = *message;  // typeid of a plain reference: nothing else evaluated
    const std::type_info& dynamicType = typeid(object);
    const auto& byType = table().byType;
    auto found = byType.find(std::type_index(dynamicType));
    if (found == byType.end()) {
        throw std::invalid_argument("No JSON serializer registered for class " +
                                    typeName(dynamicType));
    }
    return Encoded{found->second.typeName, found->second.serializer(message)};
}

std::unique_ptr<Message> JsonSerializer::deserialize(const std::string& name,
                                                     Poco::JSON::Object::Ptr object) const {
    const auto& byName = table().byName;
    auto found = byName.find(name);
    if (found == byName.end()) throw std::invalid_argument("Unknown message type: " + name);
    return found->second.deserializer(std::move(object));
}

std::optional<std::string> JsonSerializer::typeNameOf(const Message& message) const {
    const auto& byType = table().byType;
    auto found = byType.find(std::type_index(typeid(message)));
    if (found == byType.end()) return std::nullopt;
    return found->second.typeName;
}

bool JsonSerializer::isRegistered(const std::string& name) const {
    return table().byName.count(name) != 0;
}

}  // namespace connector::json
