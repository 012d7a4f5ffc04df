#include "v1/JsonCodecs.hpp"

#include <Poco/Exception.h>

#include "connector/information/v1/ClientType.hpp"
#include "connector/information/v1/ClientTypeResponse.hpp"
#include "connector/information/v1/EnabledFeatures.hpp"
#include "connector/information/v1/EnabledFeaturesResponse.hpp"
#include "connector/information/v1/GetCurrentClientProperties.hpp"
#include "connector/information/v1/GetCurrentClientPropertiesResponse.hpp"
#include "connector/information/v1/GetUserHomeDir.hpp"
#include "connector/information/v1/GetUserHomeDirResponse.hpp"
#include "connector/information/v1/ServiceRegistryRequest.hpp"
#include "connector/information/v1/ServiceRegistryResponse.hpp"
#include "connector/information/v1/SetUserHomeDir.hpp"
#include "connector/information/v1/SetUserHomeDirResponse.hpp"
#include "v1/JsonConversions.hpp"
#include "v1/TextConversion.hpp"

namespace connector::information::v1 {

using Poco::JSON::Object;

namespace {

const std::string kNoUuid = "notset";

template <class C>
const C& as(const MessagePtr& message) {
    return static_cast<const C&>(*message);
}

Object::Ptr newObject() {
    return new Object(0);
}

void requireObject(const Object::Ptr& object) {
    if (object.isNull()) throw Poco::NullPointerException("JSON message object is empty");
}

// The two classes with a uuid and a string table: ClientType and ServiceRegistryRequest.
template <class C>
Object::Ptr serializeUuidAndProperties(const MessagePtr& message) {
    const C& typed = as<C>(message);
    Object::Ptr object = newObject();
    putMember(*object, "uuid", typed.uuid);
    putMember(*object, "properties", writeStringTable(typed.properties));
    return object;
}

template <class C>
MessagePtr deserializeUuidAndProperties(Object::Ptr object) {
    requireObject(object);
    std::string uuid = readText(object, "uuid", kNoUuid);
    StringTable properties = readStringTable(object->getObject("properties"));
    // The decoded table becomes the message's own: moved in rather than copied once more.
    auto message = std::make_unique<C>(uuid, StringTable());
    message->properties = std::move(properties);
    object.reset();
    return message;
}

// The two responses with a uuid, a string table and faults.
template <class C>
Object::Ptr serializePropertiesResponse(const MessagePtr& message) {
    const C& typed = as<C>(message);
    Object::Ptr object = newObject();
    putMember(*object, "uuid", typed.uuid);
    putMember(*object, "properties", writeStringTable(typed.properties));
    writeFaults(object, typed.faults);
    return object;
}

template <class C>
MessagePtr deserializePropertiesResponse(Object::Ptr object) {
    requireObject(object);
    std::string uuid = readText(object, "uuid", kNoUuid);
    StringTable properties = readStringTable(object->getObject("properties"));
    auto faults = readFaults(object);
    auto message = std::make_unique<C>(uuid, StringTable(), std::move(faults));
    message->properties = std::move(properties);
    object.reset();
    return message;
}

// The two home-directory carriers: only "userHomeDir", UTF-16 in the message.
template <class C>
Object::Ptr serializeHomeDir(const MessagePtr& message) {
    Object::Ptr object = newObject();
    putMember(*object, "userHomeDir", toUtf8(as<C>(message).userHomeDir));
    return object;
}

template <class C>
MessagePtr deserializeHomeDir(Object::Ptr object) {
    requireObject(object);
    std::u16string homeDir = toUtf16(readText(object, "userHomeDir", ""));
    auto message = std::make_unique<C>(std::u16string());
    message->userHomeDir = std::move(homeDir);
    object.reset();
    return message;
}

// The three classes without wire fields: an empty object, and any object (even none) decodes.
template <class C>
MessagePtr deserializeEmpty(Object::Ptr object) {
    MessagePtr message = std::make_unique<C>();
    object.reset();
    return message;
}

}  // namespace

Object::Ptr serializeClientType(const MessagePtr& message) {
    return serializeUuidAndProperties<ClientType>(message);
}
MessagePtr deserializeClientType(Object::Ptr object) {
    return deserializeUuidAndProperties<ClientType>(std::move(object));
}

Object::Ptr serializeClientTypeResponse(const MessagePtr& message) {
    return serializePropertiesResponse<ClientTypeResponse>(message);
}
MessagePtr deserializeClientTypeResponse(Object::Ptr object) {
    return deserializePropertiesResponse<ClientTypeResponse>(std::move(object));
}

Object::Ptr serializeEnabledFeatures(const MessagePtr& message) {
    const auto& typed = as<EnabledFeatures>(message);
    Object::Ptr object = newObject();
    putMember(*object, "uuid", typed.uuid);
    putMember(*object, "features", writeStringList(typed.features));
    return object;
}
MessagePtr deserializeEnabledFeatures(Object::Ptr object) {
    requireObject(object);
    std::string uuid = readText(object, "uuid", kNoUuid);
    std::vector<std::string> features = readStringList(object->getArray("features"));
    MessagePtr message = std::make_unique<EnabledFeatures>(uuid, std::move(features));
    object.reset();
    return message;
}

Object::Ptr serializeEnabledFeaturesResponse(const MessagePtr& message) {
    const auto& typed = as<EnabledFeaturesResponse>(message);
    Object::Ptr object = newObject();
    putMember(*object, "uuid", typed.uuid);
    putMember(*object, "features", writeFlagTable(typed.features));
    putMember(*object, "quorixVersion", toUtf8(typed.quorixVersion));
    writeFaults(object, typed.faults);
    return object;
}
MessagePtr deserializeEnabledFeaturesResponse(Object::Ptr object) {
    requireObject(object);
    std::string uuid = readText(object, "uuid", kNoUuid);
    FlagTable features = readFlagTable(object->getObject("features"));
    std::u16string version = toUtf16(readText(object, "quorixVersion", ""));
    auto faults = readFaults(object);
    auto message = std::make_unique<EnabledFeaturesResponse>(uuid, FlagTable(), std::u16string(),
                                                             std::move(faults));
    message->features = std::move(features);
    message->quorixVersion = std::move(version);
    object.reset();
    return message;
}

Object::Ptr serializeServiceRegistryRequest(const MessagePtr& message) {
    return serializeUuidAndProperties<ServiceRegistryRequest>(message);
}
MessagePtr deserializeServiceRegistryRequest(Object::Ptr object) {
    return deserializeUuidAndProperties<ServiceRegistryRequest>(std::move(object));
}

Object::Ptr serializeServiceRegistryResponse(const MessagePtr& message) {
    return serializePropertiesResponse<ServiceRegistryResponse>(message);
}
MessagePtr deserializeServiceRegistryResponse(Object::Ptr object) {
    return deserializePropertiesResponse<ServiceRegistryResponse>(std::move(object));
}

Object::Ptr serializeSetUserHomeDir(const MessagePtr& message) {
    return serializeHomeDir<SetUserHomeDir>(message);
}
MessagePtr deserializeSetUserHomeDir(Object::Ptr object) {
    return deserializeHomeDir<SetUserHomeDir>(std::move(object));
}

Object::Ptr serializeSetUserHomeDirResponse(const MessagePtr&) {
    return newObject();
}
MessagePtr deserializeSetUserHomeDirResponse(Object::Ptr object) {
    return deserializeEmpty<SetUserHomeDirResponse>(std::move(object));
}

Object::Ptr serializeGetUserHomeDir(const MessagePtr&) {
    return newObject();
}
MessagePtr deserializeGetUserHomeDir(Object::Ptr object) {
    return deserializeEmpty<GetUserHomeDir>(std::move(object));
}

Object::Ptr serializeGetUserHomeDirResponse(const MessagePtr& message) {
    return serializeHomeDir<GetUserHomeDirResponse>(message);
}
MessagePtr deserializeGetUserHomeDirResponse(Object::Ptr object) {
    return deserializeHomeDir<GetUserHomeDirResponse>(std::move(object));
}

Object::Ptr serializeGetCurrentClientProperties(const MessagePtr&) {
    return newObject();
}
MessagePtr deserializeGetCurrentClientProperties(Object::Ptr object) {
    return deserializeEmpty<GetCurrentClientProperties>(std::move(object));
}

Object::Ptr serializeGetCurrentClientPropertiesResponse(const MessagePtr& message) {
    Object::Ptr object = newObject();
    putMember(*object, "properties",
              writeStringTable(as<GetCurrentClientPropertiesResponse>(message).properties));
    return object;
}
MessagePtr deserializeGetCurrentClientPropertiesResponse(Object::Ptr object) {
    requireObject(object);
    StringTable properties = readStringTable(object->getObject("properties"));
    auto message = std::make_unique<GetCurrentClientPropertiesResponse>(StringTable());
    message->properties = std::move(properties);
    object.reset();
    return message;
}

}  // namespace connector::information::v1
