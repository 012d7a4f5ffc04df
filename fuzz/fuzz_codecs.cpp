// fuzz_codecs: the JSON codecs of the twelve information messages on arbitrary JSON.
//
// Every input that POCO parses is decoded as each of the twelve types: the input object itself
// or, for a JSON value that is not an object, an object holding that value under every key a
// codec reads (so that arrays, numbers and strings reach each field). The decoded message is
// encoded, stringified, parsed and decoded again. Properties checked:
//   - a decoder given an object fails only by the UTF-8 conversion error, and only for the
//     classes with a UTF-16 field;
//   - the encoder's text parses again;
//   - the second decode equals the first in every field the wire carries, and both leave the
//     fields the wire does not carry (version, uuid of the home-directory messages, fault
//     conditions) at their defaults;
//   - encoding the second decode gives the first text again, byte for byte.
// Once per process: an empty object pointer is refused (Poco::NullPointerException) by exactly
// the nine decoders that read keys.
#include <Poco/Exception.h>
#include <Poco/JSON/Parser.h>

#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <typeinfo>

#include "connector/information/src/JsonCodecs.hpp"
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
#include "fuzz/FuzzSupport.hpp"
#include "host/i18n/Converters.hpp"

namespace {

using namespace connector::information::v1;
using connector::common::v1::Fault;
using connector::common::v1::Version;
using fuzzsupport::finding;
using fuzzsupport::printable;
using fuzzsupport::require;
using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;
using MessagePtr = std::unique_ptr<connector::Message>;

// ---- the fields the wire carries, as one canonical text per message ----------------------------
// Length-prefixed, so that two different messages never give the same text.

void put(std::string& out, const std::string& text) {
    out += std::to_string(text.size());
    out += ':';
    out += text;
    out += ';';
}

void put(std::string& out, const std::u16string& text) {
    out += std::to_string(text.size());
    out += "u:";
    for (char16_t unit : text) out += std::to_string(static_cast<unsigned>(unit)) + ',';
    out += ';';
}

void put(std::string& out, const StringTable& table) {
    const std::map<std::string, std::string> sorted(table.begin(), table.end());
    out += "table" + std::to_string(sorted.size()) + '{';
    for (const auto& [name, value] : sorted) {
        put(out, name);
        put(out, value);
    }
    out += '}';
}

void put(std::string& out, const FlagTable& table) {
    const std::map<std::string, bool> sorted(table.begin(), table.end());
    out += "flags" + std::to_string(sorted.size()) + '{';
    for (const auto& [name, value] : sorted) {
        put(out, name);
        out += value ? "T;" : "F;";
    }
    out += '}';
}

void put(std::string& out, const std::vector<std::string>& list) {
    out += "list" + std::to_string(list.size()) + '[';
    for (const std::string& entry : list) put(out, entry);
    out += ']';
}

void put(std::string& out, const std::vector<Fault>& faults) {
    out += "faults" + std::to_string(faults.size()) + '[';
    for (const Fault& fault : faults) {
        require(fault.faultConditions.empty(), "a decoded fault has conditions");
        put(out, fault.faultCode);
        put(out, fault.message);
    }
    out += ']';
}

// The protocol base of every decoded message: default version; a uuid only where carried.
void base(const connector::common::v1::Message& message, bool carriesUuid, std::string& out) {
    require(message.version == Version(), "a decoded message has a non-default version");
    if (carriesUuid)
        put(out, message.uuid);
    else
        require(message.uuid.empty(), "a decoded message got a uuid the wire does not carry");
}

std::string wire(const ClientType& m) {
    std::string out;
    base(m, true, out);
    put(out, m.properties);
    return out;
}
std::string wire(const ServiceRegistryRequest& m) {
    std::string out;
    base(m, true, out);
    put(out, m.properties);
    return out;
}
std::string wire(const ClientTypeResponse& m) {
    std::string out;
    base(m, true, out);
    put(out, m.properties);
    put(out, m.faults);
    return out;
}
std::string wire(const ServiceRegistryResponse& m) {
    std::string out;
    base(m, true, out);
    put(out, m.properties);
    put(out, m.faults);
    return out;
}
std::string wire(const EnabledFeatures& m) {
    std::string out;
    base(m, true, out);
    put(out, m.features);
    return out;
}
std::string wire(const EnabledFeaturesResponse& m) {
    std::string out;
    base(m, true, out);
    put(out, m.features);
    put(out, m.quorixVersion);
    put(out, m.faults);
    return out;
}
std::string wire(const SetUserHomeDir& m) {
    std::string out;
    base(m, false, out);
    put(out, m.userHomeDir);
    return out;
}
std::string wire(const GetUserHomeDirResponse& m) {
    std::string out;
    base(m, false, out);
    require(m.faults.empty(), "a decoded GetUserHomeDirResponse has faults");
    put(out, m.userHomeDir);
    return out;
}
std::string wire(const SetUserHomeDirResponse& m) {
    std::string out;
    base(m, false, out);
    require(m.faults.empty(), "a decoded SetUserHomeDirResponse has faults");
    return out;
}
std::string wire(const GetUserHomeDir& m) {
    std::string out;
    base(m, false, out);
    return out;
}
// The client-properties pair has no protocol base: nothing but the table travels.
std::string wire(const GetCurrentClientProperties&) {
    return std::string();
}
std::string wire(const GetCurrentClientPropertiesResponse& m) {
    std::string out;
    put(out, m.properties);
    return out;
}

template <class C>
std::string wireOf(const connector::Message& message) {
    const C* typed = dynamic_cast<const C*>(&message);
    require(typed != nullptr, std::string("a decoder made another class than ") + typeid(C).name());
    return wire(*typed);
}

// ---- the twelve codecs -------------------------------------------------------------------------

struct Codec {
    const char* name;
    Object::Ptr (*encode)(const MessagePtr&);
    MessagePtr (*decode)(Object::Ptr);
    std::string (*wire)(const connector::Message&);
    bool readsKeys;
    bool hasUtf16Field;
};

// One row of the plug-in's codec table, with what the fuzzer knows of the class.
template <class C>
Codec codec(const char* name, bool readsKeys, bool hasUtf16Field) {
    const MessageCodec& row = codecOf(typeid(C));
    return {name, row.serialize, row.deserialize, &wireOf<C>, readsKeys, hasUtf16Field};
}

const Codec CODECS[] = {
    codec<ClientType>("ClientType", true, false),
    codec<ClientTypeResponse>("ClientTypeResponse", true, false),
    codec<EnabledFeatures>("EnabledFeatures", true, false),
    codec<EnabledFeaturesResponse>("EnabledFeaturesResponse", true, true),
    codec<ServiceRegistryRequest>("ServiceRegistryRequest", true, false),
    codec<ServiceRegistryResponse>("ServiceRegistryResponse", true, false),
    codec<SetUserHomeDir>("SetUserHomeDir", true, true),
    codec<SetUserHomeDirResponse>("SetUserHomeDirResponse", false, false),
    codec<GetUserHomeDir>("GetUserHomeDir", false, false),
    codec<GetUserHomeDirResponse>("GetUserHomeDirResponse", true, true),
    codec<GetCurrentClientProperties>("GetCurrentClientProperties", false, false),
    codec<GetCurrentClientPropertiesResponse>("GetCurrentClientPropertiesResponse", true, false),
};

// The keys some codec reads: a non-object input is placed under each of them.
const char* const READ_KEYS[] = {"uuid",          "properties",    "features",
                                 "quorixVersion", "messageFaults", "userHomeDir"};

std::string stringify(const Object::Ptr& object) {
    std::ostringstream out;
    object->stringify(out);
    return out.str();
}

// decode: the codec's message, or null when the only allowed failure (UTF-8 conversion of a
// UTF-16 field) happened. Anything else that escapes is a finding.
MessagePtr decode(const Codec& codec, const Object::Ptr& object, const char* pass) {
    try {
        MessagePtr message = codec.decode(object);
        require(message != nullptr, std::string(codec.name) + ": decoder gave no message");
        return message;
    } catch (const fl::i18n::conversion_error& error) {
        if (!codec.hasUtf16Field)
            finding(
                std::string(codec.name) + " (" + pass +
                " decode): conversion error from a class without UTF-16 fields: " + error.what());
        return nullptr;
    } catch (const Poco::Exception& error) {
        finding(std::string(codec.name) + " (" + pass + " decode) failed: " + error.displayText());
    } catch (const std::exception& error) {
        finding(std::string(codec.name) + " (" + pass + " decode) failed: " + typeid(error).name() +
                ": " + error.what());
    }
}

void roundTrip(const Codec& codec, const Object::Ptr& object) {
    MessagePtr first = decode(codec, object, "first");
    if (!first) return;
    const std::string firstWire = codec.wire(*first);
    const std::string text = stringify(codec.encode(first));

    Object::Ptr reread;
    try {
        reread = Poco::JSON::Parser().parse(text).extract<Object::Ptr>();
    } catch (const Poco::Exception& error) {
        finding(std::string(codec.name) + ": encoded text does not parse (" + error.displayText() +
                "): " + printable(text));
    } catch (const std::exception& error) {
        finding(std::string(codec.name) + ": encoded text does not parse (" + error.what() +
                "): " + printable(text));
    }
    MessagePtr second = decode(codec, reread, "second");
    require(second != nullptr, std::string(codec.name) +
                                   ": the encoder's own text failed to decode: " + printable(text));
    const std::string secondWire = codec.wire(*second);
    require(firstWire == secondWire,
            std::string(codec.name) + ": second decode differs from the first\n  first:  " +
                printable(firstWire) + "\n  second: " + printable(secondWire));
    const std::string again = stringify(codec.encode(second));
    require(again == text, std::string(codec.name) + ": encoding is not stable\n  first:  " +
                               printable(text) + "\n  second: " + printable(again));
}

void checkEmptyPointerOnce() {
    static bool checked = false;
    if (checked) return;
    checked = true;
    for (const Codec& codec : CODECS) {
        bool refused = false;
        try {
            (void)codec.decode(Object::Ptr());
        } catch (const Poco::NullPointerException&) {
            refused = true;
        }
        require(refused == codec.readsKeys,
                std::string(codec.name) + ": wrong answer to an empty object pointer");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkEmptyPointerOnce();
    Var parsed;
    try {
        parsed = Poco::JSON::Parser().parse(std::string(reinterpret_cast<const char*>(data), size));
    } catch (...) {
        return 0;  // not JSON: the codecs never see it
    }

    std::vector<Object::Ptr> objects;
    if (parsed.type() == typeid(Object::Ptr)) {
        objects.push_back(parsed.extract<Object::Ptr>());
    } else {
        Object::Ptr holder = new Object(0);
        for (const char* key : READ_KEYS) holder->set(key, parsed);
        objects.push_back(holder);
        // The objects of a top-level array are messages of their own (a few of them).
        if (parsed.type() == typeid(Array::Ptr)) {
            Array::Ptr list = parsed.extract<Array::Ptr>();
            for (unsigned i = 0; i < list->size() && objects.size() < 4; ++i)
                if (Object::Ptr element = list->getObject(i)) objects.push_back(element);
        }
    }
    for (const Object::Ptr& object : objects)
        for (const Codec& codec : CODECS) roundTrip(codec, object);
    return 0;
}
