#include "JsonCodecs.hpp"

#include <stdexcept>

#include "JsonConversions.hpp"
#include "TextConversion.hpp"
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

namespace connector::information::v1 {

using Poco::JSON::Object;

namespace {

const std::string NO_UUID = "notset";

template <class C>
const C& as(const MessagePtr& message) {
    return static_cast<const C&>(*message);
}

Object::Ptr newObject() {
    return new Object(0);
}

// The wire forms. Each is the codec pair of the classes that share it; a deserializer reads
// every value first and then builds the message.

// "uuid" and "properties": ClientType, ServiceRegistryRequest.
template <class C>
struct UuidAndProperties {
    static Object::Ptr serialize(const MessagePtr& message) {
        const C& typed = as<C>(message);
        Object::Ptr object = newObject();
        putMember(*object, "uuid", typed.uuid);
        putMember(*object, "properties", writeStringTable(typed.properties));
        return object;
    }
    static MessagePtr deserialize(Object::Ptr object) {
        requireObject(object);
        std::string uuid = readText(object, "uuid", NO_UUID);
        StringTable properties = readStringTable(object->getObject("properties"));
        return std::make_unique<C>(uuid, properties);
    }
};

// "uuid", "properties" and "messageFaults": ClientTypeResponse, ServiceRegistryResponse.
template <class C>
struct PropertiesResponse {
    static Object::Ptr serialize(const MessagePtr& message) {
        Object::Ptr object = UuidAndProperties<C>::serialize(message);
        writeFaults(object, as<C>(message).faults);
        return object;
    }
    static MessagePtr deserialize(Object::Ptr object) {
        requireObject(object);
        std::string uuid = readText(object, "uuid", NO_UUID);
        StringTable properties = readStringTable(object->getObject("properties"));
        return std::make_unique<C>(uuid, properties, readFaults(object));
    }
};

// "userHomeDir" only, UTF-16 in the message: SetUserHomeDir, GetUserHomeDirResponse.
template <class C>
struct HomeDir {
    static Object::Ptr serialize(const MessagePtr& message) {
        Object::Ptr object = newObject();
        putMember(*object, "userHomeDir", toUtf8(as<C>(message).userHomeDir));
        return object;
    }
    static MessagePtr deserialize(Object::Ptr object) {
        requireObject(object);
        std::u16string homeDir = toUtf16(readText(object, "userHomeDir", ""));
        return std::make_unique<C>(homeDir);
    }
};

// No wire fields: an empty object, and any object (even none) decodes.
template <class C>
struct NoFields {
    static Object::Ptr serialize(const MessagePtr&) { return newObject(); }
    static MessagePtr deserialize(Object::Ptr) { return std::make_unique<C>(); }
};

// "uuid" and the list "features": EnabledFeatures.
template <class C>
struct FeatureNames {
    static Object::Ptr serialize(const MessagePtr& message) {
        const C& typed = as<C>(message);
        Object::Ptr object = newObject();
        putMember(*object, "uuid", typed.uuid);
        putMember(*object, "features", writeStringList(typed.features));
        return object;
    }
    static MessagePtr deserialize(Object::Ptr object) {
        requireObject(object);
        std::string uuid = readText(object, "uuid", NO_UUID);
        return std::make_unique<C>(uuid, readStringList(object->getArray("features")));
    }
};

// "uuid", the flag table "features", "quorixVersion" and "messageFaults":
// EnabledFeaturesResponse.
template <class C>
struct FeatureFlags {
    static Object::Ptr serialize(const MessagePtr& message) {
        const C& typed = as<C>(message);
        Object::Ptr object = newObject();
        putMember(*object, "uuid", typed.uuid);
        putMember(*object, "features", writeFlagTable(typed.features));
        putMember(*object, "quorixVersion", toUtf8(typed.quorixVersion));
        writeFaults(object, typed.faults);
        return object;
    }
    static MessagePtr deserialize(Object::Ptr object) {
        requireObject(object);
        std::string uuid = readText(object, "uuid", NO_UUID);
        FlagTable features = readFlagTable(object->getObject("features"));
        std::u16string version = toUtf16(readText(object, "quorixVersion", ""));
        return std::make_unique<C>(uuid, features, version, readFaults(object));
    }
};

// "properties" only: GetCurrentClientPropertiesResponse.
template <class C>
struct PropertiesOnly {
    static Object::Ptr serialize(const MessagePtr& message) {
        Object::Ptr object = newObject();
        putMember(*object, "properties", writeStringTable(as<C>(message).properties));
        return object;
    }
    static MessagePtr deserialize(Object::Ptr object) {
        requireObject(object);
        StringTable properties = readStringTable(object->getObject("properties"));
        return std::make_unique<C>(properties);
    }
};

template <class C, template <class> class WireForm>
constexpr MessageCodec row(const char* typeName) {
    return {typeName, typeid(C), &WireForm<C>::serialize, &WireForm<C>::deserialize};
}

// The messages: type name, class and wire form. Adding a message is adding its row.
constexpr MessageCodec MESSAGE_CODECS[] = {
    row<ClientType, UuidAndProperties>("connector/v1/ClientType"),
    row<ClientTypeResponse, PropertiesResponse>("connector/v1/ClientTypeResponse"),
    row<EnabledFeatures, FeatureNames>("connector/v1/EnabledFeatures"),
    row<EnabledFeaturesResponse, FeatureFlags>("connector/v1/EnabledFeaturesResponse"),
    // The one type name that is not its class name.
    row<ServiceRegistryRequest, UuidAndProperties>("connector/v1/ServiceRegistry"),
    row<ServiceRegistryResponse, PropertiesResponse>("connector/v1/ServiceRegistryResponse"),
    row<SetUserHomeDir, HomeDir>("connector/v1/SetUserHomeDir"),
    row<SetUserHomeDirResponse, NoFields>("connector/v1/SetUserHomeDirResponse"),
    row<GetUserHomeDir, NoFields>("connector/v1/GetUserHomeDir"),
    row<GetUserHomeDirResponse, HomeDir>("connector/v1/GetUserHomeDirResponse"),
    row<GetCurrentClientProperties, NoFields>("connector/v1/GetCurrentClientProperties"),
    row<GetCurrentClientPropertiesResponse, PropertiesOnly>(
        "connector/v1/GetCurrentClientPropertiesResponse"),
};

}  // namespace

boost::iterator_range<const MessageCodec*> messageCodecs() {
    return {std::begin(MESSAGE_CODECS), std::end(MESSAGE_CODECS)};
}

const MessageCodec& codecOf(const std::type_info& type) {
    for (const MessageCodec& codec : MESSAGE_CODECS) {
        if (codec.type == type) return codec;
    }
    throw std::invalid_argument(std::string("No JSON codec for ") + type.name());
}

}  // namespace connector::information::v1
