// The client context-state entries the two services share, and the scope this plug-in writes its
// entries with. The client-type service writes CLIENT_TYPE, ORIG_CLIENT_TYPE and
// CLIENT_PROPERTIES when a client announces itself; the information service reads CLIENT_TYPE
// (locality), CLIENT_PROPERTIES (GetCurrentClientProperties) and the two flags the framework
// writes.
#pragma once

#include <string>

#include "connector/framework/ContextState.hpp"

namespace connector::information::v1::contextkeys {

inline const std::string CLIENT_TYPE = "clientType";
inline const std::string ORIG_CLIENT_TYPE = "origClientType";
inline const std::string CLIENT_PROPERTIES = "clientProperties";
inline const std::string GDS_ENABLED = "gdsEnabled";
inline const std::string LOGIN_REQUIRED = "loginRequired";

// Every entry this plug-in writes belongs to the client's session (scope value 1).
inline constexpr connector::common::ContextScope WRITE_SCOPE =
    connector::common::ContextScope::Session;

}  // namespace connector::information::v1::contextkeys
