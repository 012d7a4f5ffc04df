// Parsing and validating an envelope: everything here only reads.
#include <Poco/Exception.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/Parser.h>

#include <climits>
#include <optional>

#include "connector/framework/StringTable.hpp"
#include "connector/information/v1/ContextKeys.hpp"

#include "tools/connector-host/core/Envelope.hpp"
#include "tools/connector-host/core/ErrorKind.hpp"
#include "tools/connector-host/core/InputScan.hpp"

namespace connectorhost {
namespace {

using connector::MessageRouter;
using connector::common::StringTable;
using connector::information::v1::CONTEXT_KEYS;
using connector::information::v1::ContextValueKind;
using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;

const std::string CLIENT_TYPE = "ClientType";
const std::string ENABLED_FEATURES = "EnabledFeatures";

[[noreturn]] void refuse(const std::string& message) {
    throw RequestError(ErrorKind::InvalidEnvelope, message);
}

// The kind of value the plug-in keeps under `key`, if it is one of its keys; any other key may
// hold any accepted form.
std::optional<ContextValueKind> expectedFor(const std::string& key) {
    for (const auto& known : CONTEXT_KEYS)
        if (known.name == key) return known.kind;
    return std::nullopt;
}

boost::any textTable(const std::string& key, const Object::Ptr& table) {
    StringTable strings;
    for (const auto& [name, value] : *table) {
        if (!value.isString()) refuse("context entry \"" + key + "\" must hold only texts");
        strings.emplace(name, value.convert<std::string>());
    }
    return strings;
}

boost::any integer(const std::string& key, const Var& value) {
    const bool unsignedTooLarge =
        value.type() == typeid(Poco::UInt64) && value.extract<Poco::UInt64>() > INT_MAX;
    const Poco::Int64 number = unsignedTooLarge ? 0 : value.convert<Poco::Int64>();
    if (unsignedTooLarge || number < INT_MIN || number > INT_MAX)
        refuse("context entry \"" + key + "\" must be an integer from " + std::to_string(INT_MIN) +
               " to " + std::to_string(INT_MAX));
    return static_cast<int>(number);
}

// The value a context entry is written with: a boolean, a text, a 32-bit integer or an object of
// texts, as the framework writes them, and for the keys the plug-in reads, the one form it reads.
boost::any contextValue(const std::string& key, const Var& value) {
    const auto expected = expectedFor(key);
    const bool isTable = value.type() == typeid(Object::Ptr);
    if (expected == ContextValueKind::Text && !value.isString())
        refuse("context entry \"" + key + "\" must be a text");
    if (expected == ContextValueKind::Flag && value.type() != typeid(bool))
        refuse("context entry \"" + key + "\" must be a boolean");
    if (expected == ContextValueKind::TextTable && !isTable)
        refuse("context entry \"" + key + "\" must be an object of texts");

    if (value.type() == typeid(bool)) return value.extract<bool>();
    if (value.isString()) return value.convert<std::string>();
    if (value.isInteger()) return integer(key, value);
    if (isTable) return textTable(key, value.extract<Object::Ptr>());
    refuse("context entry \"" + key +
           "\" must be a boolean, a text, an integer or an object of texts");
}

void checkFeatures(const Object::Ptr& message, const Limits& limits) {
    Array::Ptr features = message->getArray("features");
    if (features && features->size() > limits.maxFeatures)
        throw RequestError(ErrorKind::TooManyFeatures,
                           "EnabledFeatures names " + std::to_string(features->size()) +
                               " features; one request may name at most " +
                               std::to_string(limits.maxFeatures));
}

// The type must be registered and, unless a batch carries it to the client-type service,
// answered by a provider here.
void checkRoutable(const std::string& type, bool inBatch, const HostRuntime& runtime) {
    if (!runtime.serializer->isRegistered(type))
        throw RequestError(ErrorKind::UnknownType, "Unknown message type: " + type);
    static const std::string clientType = MessageRouter::TYPE_PREFIX + CLIENT_TYPE;
    const bool forClientTypes = inBatch && type == clientType;
    if (!forClientTypes && !runtime.router->hasRoute(type))
        throw RequestError(ErrorKind::NoProvider, "No service provider for message type " + type);
}

// A batch: every group a known type that something here answers, every element an object, no
// more messages in all groups together than the limit, each EnabledFeatures within its limit.
void validateBatch(const Object::Ptr& message, const HostRuntime& runtime, const Limits& limits) {
    Object::Ptr groups = message->getObject("messages");
    if (!groups) refuse("A container request needs a \"messages\" object");
    std::size_t count = 0;
    for (const auto& [shortName, value] : *groups) {
        if (value.type() != typeid(Array::Ptr))
            refuse("\"" + shortName + "\" must hold a list of messages");
        checkRoutable(MessageRouter::TYPE_PREFIX + shortName, true, runtime);
        const Array::Ptr& list = value.extract<Array::Ptr>();
        count += list->size();
        if (count > limits.maxBatchMessages)
            throw RequestError(ErrorKind::TooManyMessages,
                               "A batch may hold at most " +
                                   std::to_string(limits.maxBatchMessages) + " messages");
        for (const Var& element : *list) {
            if (element.type() != typeid(Object::Ptr))
                refuse("\"" + shortName + "\" must hold only objects");
            if (shortName == ENABLED_FEATURES)
                checkFeatures(element.extract<Object::Ptr>(), limits);
        }
    }
}

void validateHead(const Object::Ptr& envelope, Request& request) {
    if (envelope->has("id")) {
        const Var& id = envelope->get("id");
        const bool integer = id.isInteger() && id.type() != typeid(bool);
        if (!id.isString() && !integer && !id.isEmpty())
            refuse("\"id\" must be a text, an integer or null");
        request.id = id;
    }
    if (envelope->has("session")) {
        if (!envelope->get("session").isString()) refuse("\"session\" must be a text");
        request.session = envelope->get("session").convert<std::string>();
    }
    if (!envelope->has("type") || !envelope->get("type").isString())
        refuse("The envelope has no \"type\" text");
    request.type = envelope->get("type").convert<std::string>();
}

}  // namespace

Object::Ptr parseEnvelope(const std::string& text, const Limits& limits) {
    scanInput(text, ScanLimits{limits.maxDepth, limits.maxValues});
    Var parsed;
    try {
        parsed = Poco::JSON::Parser().parse(text);
    } catch (const Poco::Exception& e) {
        // The parser quotes the offending byte as it is.
        throw RequestError(ErrorKind::ParseError, "Not JSON: " + printable(e.displayText()));
    }
    if (parsed.type() != typeid(Object::Ptr)) refuse("An envelope must be a JSON object");
    return parsed.extract<Object::Ptr>();
}

void validate(const Object::Ptr& envelope, const HostRuntime& runtime, const Limits& limits,
              Request& request) {
    validateHead(envelope, request);
    request.message =
        envelope->has("message") ? envelope->getObject("message") : Object::Ptr(new Object);
    if (!request.message) refuse("\"message\" must be a JSON object");
    if (envelope->has("context")) {
        Object::Ptr entries = envelope->getObject("context");
        if (!entries) refuse("\"context\" must be a JSON object");
        for (const auto& [key, value] : *entries)
            request.context.emplace_back(key, contextValue(key, value));
    }

    if (request.type == HostRuntime::containerRequestType())
        return validateBatch(request.message, runtime, limits);
    checkRoutable(request.type, false, runtime);
    static const std::string enabledFeatures = MessageRouter::TYPE_PREFIX + ENABLED_FEATURES;
    if (request.type == enabledFeatures) checkFeatures(request.message, limits);
}

}  // namespace connectorhost
