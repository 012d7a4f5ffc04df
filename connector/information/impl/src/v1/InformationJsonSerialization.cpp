#include "connector/information/v1/InformationJsonSerialization.hpp"

#include <typeinfo>

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
#include "v1/JsonCodecs.hpp"

namespace connector::information::v1 {
namespace {

struct Registration {
    const char* typeName;
    const std::type_info& type;
    Poco::JSON::Object::Ptr (*serialize)(const std::unique_ptr<connector::Message>&);
    std::unique_ptr<connector::Message> (*deserialize)(Poco::JSON::Object::Ptr);
};

// Registration order; withdrawal follows the same order.
const Registration kRegistrations[] = {
    {"connector/v1/ClientType", typeid(ClientType), serializeClientType, deserializeClientType},
    {"connector/v1/ClientTypeResponse", typeid(ClientTypeResponse), serializeClientTypeResponse,
     deserializeClientTypeResponse},
    {"connector/v1/EnabledFeatures", typeid(EnabledFeatures), serializeEnabledFeatures,
     deserializeEnabledFeatures},
    {"connector/v1/EnabledFeaturesResponse", typeid(EnabledFeaturesResponse),
     serializeEnabledFeaturesResponse, deserializeEnabledFeaturesResponse},
    // The one type name that is not its class name.
    {"connector/v1/ServiceRegistry", typeid(ServiceRegistryRequest),
     serializeServiceRegistryRequest, deserializeServiceRegistryRequest},
    {"connector/v1/ServiceRegistryResponse", typeid(ServiceRegistryResponse),
     serializeServiceRegistryResponse, deserializeServiceRegistryResponse},
    {"connector/v1/SetUserHomeDir", typeid(SetUserHomeDir), serializeSetUserHomeDir,
     deserializeSetUserHomeDir},
    {"connector/v1/SetUserHomeDirResponse", typeid(SetUserHomeDirResponse),
     serializeSetUserHomeDirResponse, deserializeSetUserHomeDirResponse},
    {"connector/v1/GetUserHomeDir", typeid(GetUserHomeDir), serializeGetUserHomeDir,
     deserializeGetUserHomeDir},
    {"connector/v1/GetUserHomeDirResponse", typeid(GetUserHomeDirResponse),
     serializeGetUserHomeDirResponse, deserializeGetUserHomeDirResponse},
    {"connector/v1/GetCurrentClientProperties", typeid(GetCurrentClientProperties),
     serializeGetCurrentClientProperties, deserializeGetCurrentClientProperties},
    {"connector/v1/GetCurrentClientPropertiesResponse", typeid(GetCurrentClientPropertiesResponse),
     serializeGetCurrentClientPropertiesResponse, deserializeGetCurrentClientPropertiesResponse},
};

}  // namespace

InformationJsonSerialization::InformationJsonSerialization(
    std::shared_ptr<connector::json::JsonSerializer> serializerArgument)
    : serializer(serializerArgument) {
    for (const Registration& row : kRegistrations) {
        serializer->registerType(std::string(row.typeName), row.type,
                                 connector::json::SerializerFn(row.serialize),
                                 connector::json::DeserializerFn(row.deserialize));
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
    for (const Registration& row : kRegistrations) {
        try {
            serializer->unregisterType(row.type);
        } catch (...) {
            // A failed withdrawal must not stop the others nor leave the destructor.
        }
    }
}

}  // namespace connector::information::v1
