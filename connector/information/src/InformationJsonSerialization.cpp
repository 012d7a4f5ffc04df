#include "connector/information/v1/InformationJsonSerialization.hpp"

#include "JsonCodecs.hpp"

namespace connector::information::v1 {

InformationJsonSerialization::InformationJsonSerialization(
    std::shared_ptr<connector::json::JsonSerializer> serializerArgument)
    : serializer(serializerArgument) {
    for (const MessageCodec& codec : messageCodecs()) {
        serializer->registerType(std::string(codec.typeName), codec.type,
                                 connector::json::SerializerFn(codec.serialize),
                                 connector::json::DeserializerFn(codec.deserialize));
    }
}

InformationJsonSerialization::InformationJsonSerialization(
    const InformationJsonSerialization& other) = default;

InformationJsonSerialization& InformationJsonSerialization::operator=(
    const InformationJsonSerialization& other) {
    serializer = other.serializer;  // takes the new share before releasing the old one
    return *this;
}

InformationJsonSerialization::~InformationJsonSerialization() {
    if (!serializer) return;
    for (const MessageCodec& codec : messageCodecs()) {
        try {
            serializer->unregisterType(codec.type);
        } catch (...) {
            // A failed withdrawal must not stop the others nor leave the destructor.
        }
    }
}

}  // namespace connector::information::v1
