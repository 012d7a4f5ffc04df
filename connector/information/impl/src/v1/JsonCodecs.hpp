// The JSON codecs of the twelve information messages: per class one serializer (message to a new
// JSON object) and one deserializer (JSON object to a new message the caller owns). The type
// name is not part of the object: the framework carries it beside.
//
// Serializers are called only with a message of their class and validate nothing. Deserializers
// read leniently (see JsonConversions.hpp); the ones that read keys throw
// Poco::NullPointerException for an empty object pointer, the three without keys accept it. A
// failed UTF-8 / UTF-16 conversion raises fl::i18n::conversion_error and no message is made.
// Threads: stateless; any number of calls may run at once.
#pragma once

#include <Poco/JSON/Object.h>

#include <memory>

#include "connector/framework/Message.hpp"

namespace connector::information::v1 {

#define CONNECTOR_INFORMATION_CODEC(Class)                                \
    [[nodiscard]] Poco::JSON::Object::Ptr serialize##Class(               \
        const std::unique_ptr<connector::Message>& message);              \
    [[nodiscard]] std::unique_ptr<connector::Message> deserialize##Class( \
        Poco::JSON::Object::Ptr object);

CONNECTOR_INFORMATION_CODEC(ClientType)
CONNECTOR_INFORMATION_CODEC(ClientTypeResponse)
CONNECTOR_INFORMATION_CODEC(EnabledFeatures)
CONNECTOR_INFORMATION_CODEC(EnabledFeaturesResponse)
CONNECTOR_INFORMATION_CODEC(ServiceRegistryRequest)
CONNECTOR_INFORMATION_CODEC(ServiceRegistryResponse)
CONNECTOR_INFORMATION_CODEC(SetUserHomeDir)
CONNECTOR_INFORMATION_CODEC(SetUserHomeDirResponse)
CONNECTOR_INFORMATION_CODEC(GetUserHomeDir)
CONNECTOR_INFORMATION_CODEC(GetUserHomeDirResponse)
CONNECTOR_INFORMATION_CODEC(GetCurrentClientProperties)
CONNECTOR_INFORMATION_CODEC(GetCurrentClientPropertiesResponse)

#undef CONNECTOR_INFORMATION_CODEC

}  // namespace connector::information::v1
