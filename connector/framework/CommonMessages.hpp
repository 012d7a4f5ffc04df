// The protocol bases of connector messages and their error records (connector::common::v1):
// Version, Message (uuid + version), Response (adds the faults), Fault and FaultCondition.
// Plain values: no virtual operations, no locking; a message object is used by one thread at a
// time.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "connector/framework/Visibility.hpp"

namespace connector::common::v1 {

// Version: the protocol version a message was written for; always the current one here.
struct CONNECTOR_FRAMEWORK_API Version {
    unsigned major = 1;
    unsigned minor = 0;
};

inline bool operator==(const Version& a, const Version& b) {
    return a.major == b.major && a.minor == b.minor;
}

// FaultCondition: one detail of a fault; `faultInfo` holds UTF-16 texts.
struct CONNECTOR_FRAMEWORK_API FaultCondition {
    std::string faultId;
    std::vector<std::u16string> faultInfo;
};

// Fault: a refusal the protocol knows, carried inside a normal response.
struct CONNECTOR_FRAMEWORK_API Fault {
    Fault(std::string code, std::string text, std::vector<FaultCondition>&& conditions)
        : faultCode(std::move(code))
        , message(std::move(text))
        , faultConditions(std::move(conditions)) {}

    std::string faultCode;
    std::string message;
    std::vector<FaultCondition> faultConditions;
};

// Message: the protocol fields of a request. The Version-only form leaves `uuid` empty.
class CONNECTOR_FRAMEWORK_API Message {
  public:
    Message(const std::string& id, Version v) : uuid(id), version(v) {}
    explicit Message(Version v) : version(v) {}

    std::string uuid;
    Version version;
};

// Response: a request's fields plus the list of faults of the answer.
class CONNECTOR_FRAMEWORK_API Response : public Message {
  public:
    Response(const std::string& id, std::vector<Fault>&& list, Version v)
        : Message(id, v), faults(std::move(list)) {}
    Response(std::vector<Fault>&& list, Version v) : Message(v), faults(std::move(list)) {}
    explicit Response(Version v) : Message(v) {}

    std::vector<Fault> faults;
};

}  // namespace connector::common::v1
