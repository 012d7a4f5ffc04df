#include "tools/connector-host/EnvelopeProcessor.hpp"

#include <Poco/Exception.h>
#include <Poco/JSON/Parser.h>

#include <boost/any.hpp>
#include <boost/exception/diagnostic_information.hpp>
#include <sstream>
#include <stdexcept>

#include "connector/framework/ContainerMessages.hpp"
#include "connector/framework/CurrentContextState.hpp"
#include "host/i18n/Converters.hpp"

namespace connectorhost {
namespace {

using connector::container::v1::ContainerRequest;
using connector::container::v1::ContainerResponse;
using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;
using StringTable = std::unordered_map<std::string, std::string>;

const std::string kPrefix = "connector/v1/";
const std::string kContainerResponse = "connector/v1/ContainerResponse";

// An error of the envelope itself, with its kind.
class InputError : public std::runtime_error {
  public:
    InputError(std::string kind, const std::string& message)
        : std::runtime_error(message), kind(std::move(kind)) {}
    std::string kind;
};

// Deepest nesting of objects and arrays, counted without parsing (strings skipped), so that a
// hostile input is refused before a recursive parser sees it.
std::size_t nestingDepth(const std::string& text) {
    std::size_t depth = 0, deepest = 0;
    bool inString = false, escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

// The parser's message quotes the offending input byte as it is, which may be a lone byte of a
// broken UTF-8 sequence: every byte outside ASCII becomes "\xHH", so the answer stays UTF-8.
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

Object::Ptr orderedObject() {
    return new Object(Poco::JSON_PRESERVE_KEY_ORDER);
}

std::string toText(const Object::Ptr& object) {
    std::ostringstream out;
    object->stringify(out);
    return out.str();
}

// The kind and text of an error raised by delivery or by a service.
std::pair<std::string, std::string> describe(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const InputError& e) {
        return {e.kind, e.what()};
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

template <class Action>
auto stage(const char* kind, Action&& action) -> decltype(action()) {
    try {
        return action();
    } catch (const InputError&) {
        throw;
    } catch (const std::exception& e) {
        throw InputError(kind, e.what());
    }
}

void writeContext(connector::common::ContextState& state, const Object::Ptr& entries) {
    for (const std::string& key : entries->getNames()) {
        const Var& value = entries->get(key);
        const auto scope = connector::common::ContextScope::Session;
        if (value.type() == typeid(bool)) {
            state.set(key, value.extract<bool>(), scope);
        } else if (value.isString()) {
            state.set(key, value.convert<std::string>(), scope);
        } else if (value.isInteger()) {
            state.set(key, value.convert<int>(), scope);
        } else if (value.type() == typeid(Object::Ptr)) {
            Object::Ptr table = value.extract<Object::Ptr>();
            StringTable strings;
            for (const std::string& name : table->getNames()) {
                if (!table->get(name).isString())
                    throw InputError("invalid_envelope",
                                     "context entry \"" + key + "\" must hold only texts");
                strings[name] = table->get(name).convert<std::string>();
            }
            state.set(key, strings, scope);
        } else {
            throw InputError("invalid_envelope", "context entry \"" + key +
                                                     "\" must be a boolean, a text, an integer or "
                                                     "an object of texts");
        }
    }
}

}  // namespace

EnvelopeProcessor::EnvelopeProcessor(HostRuntime& runtime, std::size_t maxBytes)
    : runtime_(runtime), maxBytes_(maxBytes) {}

Answer EnvelopeProcessor::tooLarge(std::size_t size) const {
    Object::Ptr answer = orderedObject();
    Object::Ptr error = orderedObject();
    error->set("kind", "too_large");
    error->set("message", "Input of " + std::to_string(size) + " bytes exceeds the limit of " +
                              std::to_string(maxBytes_) + " bytes");
    answer->set("error", error);
    return Answer{toText(answer), true, true, false};
}

Answer EnvelopeProcessor::process(const std::string& text) {
    if (text.size() > maxBytes_) return tooLarge(text.size());

    Object::Ptr answer = orderedObject();
    try {
        if (nestingDepth(text) > kMaxNesting)
            throw InputError("too_deep",
                             "JSON nested deeper than " + std::to_string(kMaxNesting) + " levels");
        Var parsed;
        try {
            parsed = Poco::JSON::Parser().parse(text);
        } catch (const Poco::Exception& e) {
            throw InputError("parse_error", "Not JSON: " + quotable(e.displayText()));
        }
        if (parsed.type() != typeid(Object::Ptr))
            throw InputError("invalid_envelope", "An envelope must be a JSON object");
        Object::Ptr envelope = parsed.extract<Object::Ptr>();

        if (envelope->has("id")) answer->set("id", envelope->get("id"));
        std::string session;
        if (envelope->has("session")) {
            if (!envelope->get("session").isString())
                throw InputError("invalid_envelope", "\"session\" must be a text");
            session = envelope->get("session").convert<std::string>();
            answer->set("session", session);
        }
        if (!envelope->has("type") || !envelope->get("type").isString())
            throw InputError("invalid_envelope", "The envelope has no \"type\" text");
        const std::string type = envelope->get("type").convert<std::string>();
        Object::Ptr body =
            envelope->has("message") ? envelope->getObject("message") : Object::Ptr(new Object);
        if (body.isNull())
            throw InputError("invalid_envelope", "\"message\" must be a JSON object");

        // The request's context: the session's state, or a fresh one.
        std::shared_ptr<connector::Context> context =
            session.empty() && !envelope->has("session")
                ? std::make_shared<connector::Context>(runtime_.router)
                : runtime_.sessions->useSession(session);
        if (envelope->has("context")) {
            Object::Ptr entries = envelope->getObject("context");
            if (entries.isNull())
                throw InputError("invalid_envelope", "\"context\" must be a JSON object");
            writeContext(*context, entries);
        }

        // Decode.
        std::unique_ptr<connector::Message> request;
        if (type == HostRuntime::CONTAINER_REQUEST) {
            Object::Ptr groups = body->getObject("messages");
            if (groups.isNull())
                throw InputError("invalid_envelope",
                                 "A container request needs a \"messages\" object");
            auto batch = std::make_unique<ContainerRequest>();
            for (const std::string& shortName : groups->getNames()) {
                Array::Ptr list = groups->getArray(shortName);
                if (list.isNull())
                    throw InputError("invalid_envelope",
                                     "\"" + shortName + "\" must hold a list of messages");
                if (!runtime_.serializer->isRegistered(kPrefix + shortName))
                    throw InputError("unknown_type",
                                     "Unknown message type: " + kPrefix + shortName);
                auto& messages = batch->messages[shortName];
                for (std::size_t i = 0; i < list->size(); ++i) {
                    Object::Ptr element = list->getObject(static_cast<unsigned>(i));
                    if (element.isNull())
                        throw InputError("invalid_envelope",
                                         "\"" + shortName + "\" must hold only objects");
                    messages.push_back(stage("decode_error", [&] {
                        return runtime_.serializer->deserialize(kPrefix + shortName, element);
                    }));
                }
            }
            request = std::move(batch);
        } else {
            if (!runtime_.serializer->isRegistered(type))
                throw InputError("unknown_type", "Unknown message type: " + type);
            if (!runtime_.router->hasRoute(type))
                throw InputError("no_provider", "No service provider for message type " + type);
            request =
                stage("decode_error", [&] { return runtime_.serializer->deserialize(type, body); });
        }

        // Deliver, with the session's state as the current one while it is served.
        std::unique_ptr<connector::Message> response;
        {
            connector::qvm_common::CurrentContextStateScope serving(
                envelope->has("session") ? context : nullptr);
            response = runtime_.router
                           ->route(type, std::move(request), connector::Address(session), context)
                           .get();
        }
        if (!response) throw std::runtime_error("The service answered with an empty message");

        // Encode.
        stage("encode_error", [&] {
            if (auto* container = dynamic_cast<ContainerResponse*>(response.get())) {
                Object::Ptr groups = orderedObject();
                for (const auto& [shortName, messages] : container->messages) {
                    Array::Ptr list = new Array;
                    for (const auto& message : messages)
                        list->add(runtime_.serializer->serialize(message).object);
                    groups->set(shortName, list);
                }
                Object::Ptr message = orderedObject();
                message->set("messages", groups);
                answer->set("type", kContainerResponse);
                answer->set("message", message);
            } else {
                auto encoded = runtime_.serializer->serialize(response);
                answer->set("type", encoded.typeName);
                answer->set("message", encoded.object);
            }
            return 0;
        });
        return Answer{toText(answer), false, false, false};
    } catch (...) {
        const std::exception_ptr caught = std::current_exception();
        bool input = false;
        try {
            std::rethrow_exception(caught);
        } catch (const InputError&) {
            input = true;
        } catch (...) {
        }
        auto [kind, message] = describe(caught);
        Object::Ptr error = orderedObject();
        error->set("kind", kind);
        error->set("message", message);
        answer->remove("type");
        answer->remove("message");
        answer->set("error", error);
        return Answer{toText(answer), input, false, !input};
    }
}

}  // namespace connectorhost
