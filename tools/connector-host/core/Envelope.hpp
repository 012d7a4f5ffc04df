// The steps EnvelopeProcessor takes for one envelope, each in its own translation unit:
//
//   parseEnvelope   scan (InputScan) and parse the text              EnvelopeValidation.cpp
//   validate        check the whole envelope: id, session, type,     EnvelopeValidation.cpp
//                   message, context entries, batch and feature limits
//   decode          the message object(s) into messages               EnvelopeCoding.cpp
//   encode          the service's answer into the answer object       EnvelopeCoding.cpp
//
// parseEnvelope, validate and decode only read: a request refused by them has changed nothing.
// Errors: RequestError with the kind of the fault (see ErrorKind.hpp). Threads: pure functions
// of their arguments; the runtime's members are thread-safe.
#pragma once

#include <Poco/Dynamic/Var.h>
#include <Poco/JSON/Object.h>

#include <boost/any.hpp>
#include <boost/optional.hpp>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "connector/framework/Message.hpp"
#include "tools/connector-host/core/HostRuntime.hpp"
#include "tools/connector-host/core/Limits.hpp"

namespace connectorhost {

// Request: what an envelope asks for, validated and not yet acted upon.
struct Request {
    boost::optional<Poco::Dynamic::Var> id;
    boost::optional<std::string> session;
    std::string type;
    Poco::JSON::Object::Ptr message;
    std::vector<std::pair<std::string, boost::any>> context;
};

[[nodiscard]] Poco::JSON::Object::Ptr parseEnvelope(const std::string& text, const Limits& limits);

// validate: fills `request` member by member, so that an error answer can echo the "id" and
// "session" that were valid up to the fault.
void validate(const Poco::JSON::Object::Ptr& envelope, const HostRuntime& runtime,
              const Limits& limits, Request& request);

[[nodiscard]] std::unique_ptr<connector::Message> decode(const Request& request,
                                                         const HostRuntime& runtime);

// encode: sets "type" and "message" of `answer` from the service's response (a container
// response becomes one "messages" object of lists by short type name).
void encode(const HostRuntime& runtime, std::unique_ptr<connector::Message> response,
            Poco::JSON::Object& answer);

}  // namespace connectorhost
