// connector::json::JsonSerializer: the framework's table of JSON codecs. A plug-in registers, per
// message class, a type name ("connector/v1/<Type>"), the class's type identity and two codec
// functions; the framework then encodes an outgoing message by its dynamic class and decodes an
// incoming JSON object by its type name.
//
// A second registration of a name or an identity replaces the first; unregisterType withdraws
// the registration made for an identity. Threads: every operation may run concurrently. Encoding
// and decoding read the table without a lock or any write to memory another thread reads (one
// atomic load of the current table): registrations publish a new table, and every table stays
// until the serializer ends, so registering is for setting up (each registration keeps a copy
// of the table, and with it the codec functions of withdrawn registrations: a library whose
// codecs these are stays loaded until the serializer ends). Errors: std::invalid_argument for an
// unknown type name or class; codec exceptions pass through unchanged.
#pragma once

#include <Poco/JSON/Object.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>
#include <vector>

#include "connector/framework/Message.hpp"
#include "connector/framework/Visibility.hpp"

namespace connector::json {

using SerializerFn = std::function<Poco::JSON::Object::Ptr(const std::unique_ptr<Message>&)>;
using DeserializerFn = std::function<std::unique_ptr<Message>(Poco::JSON::Object::Ptr)>;

class CONNECTOR_FRAMEWORK_API JsonSerializer {
  public:
    // Encoded: a message on the wire: its type name beside its object.
    struct Encoded {
        std::string typeName;
        Poco::JSON::Object::Ptr object;
    };

    JsonSerializer();
    JsonSerializer(const JsonSerializer&) = delete;
    JsonSerializer& operator=(const JsonSerializer&) = delete;
    virtual ~JsonSerializer();

    virtual void registerType(const std::string& typeName, const std::type_info& type,
                              SerializerFn serializer, DeserializerFn deserializer);
    virtual void unregisterType(const std::type_info& type);

    // serialize: encodes `message` with the serializer of its dynamic class.
    [[nodiscard]] Encoded serialize(const std::unique_ptr<Message>& message) const;
    // deserialize: decodes `object` with the deserializer registered for `typeName`.
    [[nodiscard]] std::unique_ptr<Message> deserialize(const std::string& typeName,
                                                       Poco::JSON::Object::Ptr object) const;
    // typeNameOf: the registered type name of the message's dynamic class, if any.
    std::optional<std::string> typeNameOf(const Message& message) const;
    bool isRegistered(const std::string& typeName) const;

  private:
    struct Codec {
        std::string typeName;
        SerializerFn serializer;
        DeserializerFn deserializer;
    };

    // By name: the identity, and the deserializer again, so that decoding takes one lookup.
    struct Named {
        std::type_index type;
        DeserializerFn deserializer;
    };

    struct Table {
        std::unordered_map<std::type_index, Codec> byType;
        std::unordered_map<std::string, Named> byName;
    };

    // publish: makes `next` the table readers see; call with writeMutex held.
    void publish(std::unique_ptr<Table> next);
    [[nodiscard]] const Table& table() const noexcept {
        return *current.load(std::memory_order_acquire);
    }

    std::mutex writeMutex;
    std::vector<std::unique_ptr<const Table>> tables;  // every table published, the current last
    std::atomic<const Table*> current;
};

}  // namespace connector::json
