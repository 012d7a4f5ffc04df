// Constructors and destructors of the twelve information messages. The destructors are defined
// here so that each class's vtable and type information live in the plug-in's shared library.
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

using connector::common::v1::Fault;
using connector::common::v1::Version;
using ProtocolMessage = connector::common::v1::Message;
using ProtocolResponse = connector::common::v1::Response;

InformationServiceProvider::~InformationServiceProvider() = default;

ClientType::ClientType(const std::string& uuid, const StringTable& properties)
    : ProtocolMessage(uuid, Version()), properties(properties) {}
ClientType::~ClientType() = default;

ClientTypeResponse::ClientTypeResponse(const std::string& uuid, const StringTable& properties,
                                       std::vector<Fault>&& faults)
    : ProtocolResponse(uuid, std::move(faults), Version()), properties(properties) {}
ClientTypeResponse::~ClientTypeResponse() = default;

EnabledFeatures::EnabledFeatures(const std::string& uuid, std::vector<std::string>&& names)
    : ProtocolMessage(uuid, Version()), features(std::move(names)) {
    names.clear();  // a moved-from vector is unspecified; the caller is promised an empty one
}
EnabledFeatures::~EnabledFeatures() = default;

EnabledFeaturesResponse::EnabledFeaturesResponse(const std::string& uuid, const FlagTable& flags,
                                                 const std::u16string& version,
                                                 std::vector<Fault>&& faults)
    : ProtocolResponse(uuid, std::move(faults), Version())
    , features(flags)
    , quorixVersion(version) {}
EnabledFeaturesResponse::EnabledFeaturesResponse(FlagTable&& flags, const std::u16string& version)
    : ProtocolResponse(Version()), features(std::move(flags)), quorixVersion(version) {
    flags.clear();
}
EnabledFeaturesResponse::~EnabledFeaturesResponse() = default;

ServiceRegistryRequest::ServiceRegistryRequest(const std::string& uuid,
                                               const StringTable& properties)
    : ProtocolMessage(uuid, Version()), properties(properties) {}
ServiceRegistryRequest::~ServiceRegistryRequest() = default;

ServiceRegistryResponse::ServiceRegistryResponse(const std::string& uuid,
                                                 const StringTable& properties,
                                                 std::vector<Fault>&& faults)
    : ProtocolResponse(uuid, std::move(faults), Version()), properties(properties) {}
ServiceRegistryResponse::ServiceRegistryResponse(const StringTable& properties)
    : ProtocolResponse(Version()), properties(properties) {}
ServiceRegistryResponse::ServiceRegistryResponse(std::vector<Fault>&& faults)
    : ProtocolResponse(std::move(faults), Version()) {}
ServiceRegistryResponse::~ServiceRegistryResponse() = default;

SetUserHomeDir::SetUserHomeDir(const std::u16string& homeDir)
    : ProtocolMessage(Version()), userHomeDir(homeDir) {}
SetUserHomeDir::~SetUserHomeDir() = default;

SetUserHomeDirResponse::SetUserHomeDirResponse() : ProtocolResponse(Version()) {}
SetUserHomeDirResponse::~SetUserHomeDirResponse() = default;

GetUserHomeDir::GetUserHomeDir() : ProtocolMessage(Version()) {}
GetUserHomeDir::~GetUserHomeDir() = default;

GetUserHomeDirResponse::GetUserHomeDirResponse(const std::u16string& homeDir)
    : ProtocolResponse(Version()), userHomeDir(homeDir) {}
GetUserHomeDirResponse::~GetUserHomeDirResponse() = default;

GetCurrentClientProperties::GetCurrentClientProperties() = default;
GetCurrentClientProperties::~GetCurrentClientProperties() = default;

GetCurrentClientPropertiesResponse::GetCurrentClientPropertiesResponse(
    const StringTable& properties)
    : properties(properties) {}
GetCurrentClientPropertiesResponse::~GetCurrentClientPropertiesResponse() = default;

}  // namespace connector::information::v1
