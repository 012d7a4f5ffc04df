#include "tools/connector-host/EnvelopeProcessor.hpp"

#include <Poco/Exception.h>
#include <Poco/JSON/Parser.h>

#include <boost/any.hpp>
#include <boost/exception/diagnostic_information.hpp>
#include <boost/optional.hpp>
#include <climits>
#include <sstream>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "connector/framework/ContainerMessages.hpp"
#include "connector/framework/CurrentContextState.hpp"
#include "tools/connector-host/AnswerBudget.hpp"
#include "tools/connector-host/InputError.hpp"
#include "tools/connector-host/InputScan.hpp"

namespace connectorhost {
namespace {

using connector::MessageRouter;
using connector::container::v1::ContainerRequest;
using connector::container::v1::ContainerResponse;
using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;
using StringTable = std::unordered_map<std::string, std::string>;

const std::string kContainerResponse = MessageRouter::TYPE_PREFIX + "ContainerResponse";
const std::string kClientType = "ClientType";
const std::string kEnabledFeatures = "EnabledFeatures";

[[noreturn]] void refuse(const std::string& message) {
    throw InputError("invalid_envelope", message);
}

// What an envelope asks for, validated and not yet acted upon.
struct Request {
    boost::optional<Var> id;
    boost::optional<std::string> session;
    std::string type;
    Object::Ptr message;
    std::vector<std::pair<std::string, boost::any>> context;
};

// ---- parse ---------------------------------------------------------------------------------

// The parser's message quotes the offending input byte as it is: every byte outside ASCII
// becomes "\xHH", so the answer stays UTF-8 whatever the input was.
std::string quotable(const std::string& text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += "\\x";
            out += digits[byte >> 4];
            out += digits[byte & 0xF];
        }
    }
    return out;
}

Object::Ptr parseEnvelope(const std::string& text, const Limits& limits) {
    scanInput(text, ScanLimits{limits.maxDepth, limits.maxValues});
    Var parsed;
    try {
        parsed = Poco::JSON::Parser().parse(text);
    } catch (const Poco::Exception& e) {
        throw InputError("parse_error", "Not JSON: " + quotable(e.displayText()));
    }
    if (parsed.type() != typeid(Object::Ptr)) refuse("An envelope must be a JSON object");
    return parsed.extract<Object::Ptr>();
}

// ---- validate ------------------------------------------------------------------------------

// Context keys the plug-in reads with a fixed type; any other key may hold any accepted form.
enum class Expected { Any, Text, Flag, TextTable };

Expected expectedFor(const std::string& key) {
    static const std::unordered_map<std::string, Expected> known = {
        {"clientType", Expected::Text},
        {"origClientType", Expected::Text},
        {"clientProperties", Expected::TextTable},
        {"gdsEnabled", Expected::Flag},
        {"loginRequired", Expected::Flag},
    };
    auto found = known.find(key);
    return found == known.end() ? Expected::Any : found->second;
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
    const bool fits =
        value.type() == typeid(Poco::UInt64)
            ? value.extract<Poco::UInt64>() <= INT_MAX
            : value.convert<Poco::Int64>() >= INT_MIN && value.convert<Poco::Int64>() <= INT_MAX;
    if (!fits)
        refuse("context entry \"" + key + "\" must be an integer from " + std::to_string(INT_MIN) +
               " to " + std::to_string(INT_MAX));
    return static_cast<int>(value.convert<Poco::Int64>());
}

// The value a context entry is written with: a boolean, a text, a 32-bit integer or an object of
// texts, as the framework writes them, and for the keys the plug-in reads, the one form it reads.
boost::any contextValue(const std::string& key, const Var& value) {
    const Expected expected = expectedFor(key);
    const bool isTable = value.type() == typeid(Object::Ptr);
    if (expected == Expected::Text && !value.isString())
        refuse("context entry \"" + key + "\" must be a text");
    if (expected == Expected::Flag && value.type() != typeid(bool))
        refuse("context entry \"" + key + "\" must be a boolean");
    if (expected == Expected::TextTable && !isTable)
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
        throw InputError("too_many_features", "EnabledFeatures names " +
                                                  std::to_string(features->size()) +
                                                  " features; one request may name at most " +
                                                  std::to_string(limits.maxFeatures));
}

// A batch: every group a known type that something here answers, every element an object,
// no more messages than the limit.
void validateBatch(const Object::Ptr& message, const HostRuntime& runtime, const Limits& limits) {
    Object::Ptr groups = message->getObject("messages");
    if (!groups) refuse("A container request needs a \"messages\" object");
    std::size_t count = 0;
    for (const auto& [shortName, value] : *groups) {
        const std::string type = MessageRouter::TYPE_PREFIX + shortName;
        if (value.type() != typeid(Array::Ptr))
            refuse("\"" + shortName + "\" must hold a list of messages");
        if (!runtime.serializer->isRegistered(type))
            throw InputError("unknown_type", "Unknown message type: " + type);
        if (shortName != kClientType && !runtime.router->hasRoute(type))
            throw InputError("no_provider", "No service provider for message type " + type);
        const Array::Ptr& list = value.extract<Array::Ptr>();
        count += list->size();
        if (count > limits.maxBatchMessages)
            throw InputError("too_many_messages", "A batch may hold at most " +
                                                      std::to_string(limits.maxBatchMessages) +
                                                      " messages");
        for (const Var& element : *list) {
            if (element.type() != typeid(Object::Ptr))
                refuse("\"" + shortName + "\" must hold only objects");
            if (shortName == kEnabledFeatures)
                checkFeatures(element.extract<Object::Ptr>(), limits);
        }
    }
}

// Fills `request` member by member, so that an error answer echoes what was valid up to then.
void validate(const Object::Ptr& envelope, const HostRuntime& runtime, const Limits& limits,
              Request& request) {
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
    request.message =
        envelope->has("message") ? envelope->getObject("message") : Object::Ptr(new Object);
    if (!request.message) refuse("\"message\" must be a JSON object");
    if (envelope->has("context")) {
        Object::Ptr entries = envelope->getObject("context");
        if (!entries) refuse("\"context\" must be a JSON object");
        for (const auto& [key, value] : *entries)
            request.context.emplace_back(key, contextValue(key, value));
    }

    if (request.type == HostRuntime::CONTAINER_REQUEST) {
        validateBatch(request.message, runtime, limits);
        return;
    }
    if (!runtime.serializer->isRegistered(request.type))
        throw InputError("unknown_type", "Unknown message type: " + request.type);
    if (!runtime.router->hasRoute(request.type))
        throw InputError("no_provider", "No service provider for message type " + request.type);
    if (request.type == MessageRouter::TYPE_PREFIX + kEnabledFeatures)
        checkFeatures(request.message, limits);
}

// ---- decode --------------------------------------------------------------------------------

std::unique_ptr<connector::Message> decodeOne(const HostRuntime& runtime, const std::string& type,
                                              const Object::Ptr& object) {
    try {
        return runtime.serializer->deserialize(type, object);
    } catch (const std::exception& e) {
        throw InputError("decode_error", e.what());
    }
}

std::unique_ptr<connector::Message> decode(const Request& request, const HostRuntime& runtime) {
    if (request.type != HostRuntime::CONTAINER_REQUEST)
        return decodeOne(runtime, request.type, request.message);
    auto batch = std::make_unique<ContainerRequest>();
    for (const auto& [shortName, list] : *request.message->getObject("messages")) {
        auto& messages = batch->messages[shortName];
        for (const Var& element : *list.extract<Array::Ptr>())
            messages.push_back(decodeOne(runtime, MessageRouter::TYPE_PREFIX + shortName,
                                         element.extract<Object::Ptr>()));
    }
    return batch;
}

// ---- encode --------------------------------------------------------------------------------

Object::Ptr orderedObject() {
    return new Object(Poco::JSON_PRESERVE_KEY_ORDER);
}

std::string toText(const Object::Ptr& object) {
    std::ostringstream out;
    object->stringify(out);
    return out.str();
}

// The answer's head: the id and session of the request, where they were valid.
Object::Ptr answerFor(const Request& request) {
    Object::Ptr answer = orderedObject();
    if (request.id) answer->set("id", *request.id);
    if (request.session) answer->set("session", *request.session);
    return answer;
}

void encode(const HostRuntime& runtime, std::unique_ptr<connector::Message> response,
            Object::Ptr& answer) {
    try {
        if (auto* container = dynamic_cast<ContainerResponse*>(response.get())) {
            Object::Ptr groups = orderedObject();
            for (auto& [shortName, messages] : container->messages) {
                Array::Ptr list = new Array;
                for (auto& message : messages) {
                    list->add(runtime.serializer->serialize(message).object);
                    message.reset();  // what is encoded need not be kept twice
                }
                groups->set(shortName, list);
            }
            Object::Ptr message = orderedObject();
            message->set("messages", groups);
            answer->set("type", kContainerResponse);
            answer->set("message", message);
        } else {
            auto encoded = runtime.serializer->serialize(response);
            answer->set("type", encoded.typeName);
            answer->set("message", encoded.object);
        }
    } catch (const std::exception& e) {
        throw InputError("encode_error", e.what());
    }
}

// ---- error answer --------------------------------------------------------------------------

// The kind and text of an error raised by delivery or by a service.
std::pair<std::string, std::string> describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const InputError& e) {
        return {e.kind(), e.what()};
    } catch (const boost::bad_any_cast& e) {
        return {"bad_any_cast", e.what()};
    } catch (const std::invalid_argument& e) {
        return {"invalid_argument", e.what()};
    } catch (const std::logic_error& e) {
        return {"logic_error", e.what()};
    } catch (const std::runtime_error& e) {
        return {"runtime_error", e.what()};
    } catch (const Poco::Exception& e) {
        return {"json_error", e.displayText()};
    } catch (const std::exception& e) {
        return {"host_error", e.what()};
    } catch (const boost::exception& e) {
        return {"host_error", boost::diagnostic_information(e)};
    } catch (...) {
        return {"unknown_error", "An error of unknown type was raised"};
    }
}

Outcome outcomeOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const InputError& e) {
        return e.kind() == "encode_error" ? Outcome::ServiceError : Outcome::InputError;
    } catch (...) {
        return Outcome::ServiceError;
    }
}

Answer errorAnswer(const Request& request, const std::string& kind, const std::string& text,
                   Outcome outcome) {
    Object::Ptr answer = answerFor(request);
    Object::Ptr error = orderedObject();
    error->set("kind", kind);
    error->set("message", text);
    answer->set("error", error);
    return Answer{toText(answer), outcome};
}

// Measures a session again once a request is done with it, whatever became of the request.
class SessionSettler {
  public:
    SessionSettler(const HostRuntime& runtime, const boost::optional<std::string>& session)
        : runtime_(runtime), session_(session) {}
    ~SessionSettler() {
        if (session_) runtime_.sessions->settleSession(*session_);
    }
    SessionSettler(const SessionSettler&) = delete;
    SessionSettler& operator=(const SessionSettler&) = delete;

  private:
    const HostRuntime& runtime_;
    const boost::optional<std::string>& session_;
};

}  // namespace

EnvelopeProcessor::EnvelopeProcessor(HostRuntime& runtime, Limits limits)
    : runtime_(runtime), limits_(limits) {}

Answer EnvelopeProcessor::tooLarge(std::size_t size) const {
    return errorAnswer(Request{}, "too_large",
                       "Input of " + std::to_string(size) + " bytes exceeds the limit of " +
                           std::to_string(limits_.maxBytes) + " bytes",
                       Outcome::TooLarge);
}

Answer EnvelopeProcessor::process(const std::string& text) {
    if (text.size() > limits_.maxBytes) return tooLarge(text.size());
    Request request;
    try {
        validate(parseEnvelope(text, limits_), runtime_, limits_, request);
        std::unique_ptr<connector::Message> message = decode(request, runtime_);

        // From here on the request acts: its session is used and its context written.
        std::shared_ptr<connector::Context> context =
            request.session ? runtime_.sessions->useSession(*request.session)
                            : std::make_shared<connector::Context>(runtime_.router);
        SessionSettler settle(runtime_, request.session);
        for (auto& [key, value] : request.context)
            context->set(key, std::move(value), connector::common::ContextScope::Session);

        std::unique_ptr<connector::Message> response;
        {
            AnswerBudget budget(limits_.maxAnswerBytes);
            connector::qvm_common::CurrentContextStateScope serving(request.session ? context
                                                                                    : nullptr);
            response = runtime_.router
                           ->route(request.type, std::move(message),
                                   connector::Address(request.session.value_or("")), context)
                           .get();
        }
        if (!response) throw std::runtime_error("The service answered with an empty message");

        Object::Ptr answer = answerFor(request);
        encode(runtime_, std::move(response), answer);
        std::string json = toText(answer);
        if (json.size() > limits_.maxAnswerBytes)
            throw InputError("answer_too_large", "The answer of " + std::to_string(json.size()) +
                                                     " bytes exceeds the limit of " +
                                                     std::to_string(limits_.maxAnswerBytes) +
                                                     " bytes");
        return Answer{std::move(json), Outcome::Answered};
    } catch (...) {
        const std::exception_ptr caught = std::current_exception();
        const auto [kind, message] = describe(caught);
        return errorAnswer(request, kind, message, outcomeOf(caught));
    }
}

}  // namespace connectorhost
