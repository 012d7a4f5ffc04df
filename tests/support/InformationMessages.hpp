// The plug-in's twelve messages, its two services and its JSON registration, for the suites that
// drive them.
#pragma once

#include "connector/information/v1/ClientType.hpp"
#include "connector/information/v1/ClientTypeResponse.hpp"
#include "connector/information/v1/ClientTypeServiceProvider.hpp"
#include "connector/information/v1/EnabledFeatures.hpp"
#include "connector/information/v1/EnabledFeaturesResponse.hpp"
#include "connector/information/v1/GetCurrentClientProperties.hpp"
#include "connector/information/v1/GetCurrentClientPropertiesResponse.hpp"
#include "connector/information/v1/GetUserHomeDir.hpp"
#include "connector/information/v1/GetUserHomeDirResponse.hpp"
#include "connector/information/v1/InformationJsonSerialization.hpp"
#include "connector/information/v1/InformationServiceProviderImpl.hpp"
#include "connector/information/v1/ServiceRegistryRequest.hpp"
#include "connector/information/v1/ServiceRegistryResponse.hpp"
#include "connector/information/v1/SetUserHomeDir.hpp"
#include "connector/information/v1/SetUserHomeDirResponse.hpp"
