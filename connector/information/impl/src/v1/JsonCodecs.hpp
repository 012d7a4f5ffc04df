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

using MessagePtr = std::unique_ptr<connector::Message>;
using JsonObjectPtr = Poco::JSON::Object::Ptr;

[[nodiscard]] JsonObjectPtr serializeClientType(const MessagePtr& message);
[[nodiscard]] MessagePtr deserializeClientType(JsonObjectPtr object);
[[nodiscard]] JsonObjectPtr serializeClientTypeResponse(const MessagePtr& message);
[[nodiscard]] MessagePtr deserializeClientTypeResponse(JsonObjectPtr object);
[[nodiscard]] JsonObjectPtr serializeEnabledFeatures(const MessagePtr& message);
[[nodiscard]] MessagePtr deserializeEnabledFeatures(JsonObjectPtr object);
[[nodiscard]] JsonObjectPtr serializeEnabledFeaturesResponse(const MessagePtr& message);
[[nodiscard]] MessagePtr deserializeEnabledFeaturesResponse(JsonObjectPtr object);
[[nodiscard]] JsonObjectPtr serializeServiceRegistryRequest(const MessagePtr& message);
[[nodiscard]] MessagePtr deserializeServiceRegistryRequest(JsonObjectPtr object);
[[nodiscard]] JsonObjectPtr serializeServiceRegistryResponse(const MessagePtr& message);
[[nodiscard]] MessagePtr deserializeServiceRegistryResponse(JsonObjectPtr object);
[[nodiscard]] JsonObjectPtr serializeSetUserHomeDir(const MessagePtr& message);
[[nodiscard]] MessagePtr deserializeSetUserHomeDir(JsonObjectPtr object);
[[nodiscard]] JsonObjectPtr serializeSetUserHomeDirResponse(const MessagePtr& message);
[[nodiscard]] MessagePtr deserializeSetUserHomeDirResponse(JsonObjectPtr object);
[[nodiscard]] JsonObjectPtr serializeGetUserHomeDir(const MessagePtr& message);
[[nodiscard]] MessagePtr deserializeGetUserHomeDir(JsonObjectPtr object);
[[nodiscard]] JsonObjectPtr serializeGetUserHomeDirResponse(const MessagePtr& message);
[[nodiscard]] MessagePtr deserializeGetUserHomeDirResponse(JsonObjectPtr object);
[[nodiscard]] JsonObjectPtr serializeGetCurrentClientProperties(const MessagePtr& message);
[[nodiscard]] MessagePtr deserializeGetCurrentClientProperties(JsonObjectPtr object);
[[nodiscard]] JsonObjectPtr serializeGetCurrentClientPropertiesResponse(const MessagePtr& message);
[[nodiscard]] MessagePtr deserializeGetCurrentClientPropertiesResponse(JsonObjectPtr object);

}  // namespace connector::information::v1
