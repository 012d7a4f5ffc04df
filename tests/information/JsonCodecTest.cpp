// The JSON codecs of the twelve messages: their exact wire forms through the framework's
// serializer, faults written in full, lenient readers, refusal of a missing object where keys
// are read, and invalid text; and the registration of the twelve types: the order, what copies
// and assignment do, what a failing registration leaves behind, and that ending it withdraws
// them.
#include <Poco/Exception.h>
#include <Poco/JSON/Parser.h>
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <typeindex>

#include "../support/InformationMessages.hpp"
#include "connector/framework/JsonSerializer.hpp"
#include "connector/information/src/JsonCodecs.hpp"
#include "host/i18n/Converters.hpp"

namespace {

using namespace connector::information::v1;
using connector::Message;
using connector::common::v1::Fault;
using connector::common::v1::FaultCondition;
using Poco::JSON::Object;

const std::vector<std::string> TYPE_NAMES = {"connector/v1/ClientType",
                                             "connector/v1/ClientTypeResponse",
                                             "connector/v1/EnabledFeatures",
                                             "connector/v1/EnabledFeaturesResponse",
                                             "connector/v1/ServiceRegistry",
                                             "connector/v1/ServiceRegistryResponse",
                                             "connector/v1/SetUserHomeDir",
                                             "connector/v1/SetUserHomeDirResponse",
                                             "connector/v1/GetUserHomeDir",
                                             "connector/v1/GetUserHomeDirResponse",
                                             "connector/v1/GetCurrentClientProperties",
                                             "connector/v1/GetCurrentClientPropertiesResponse"};

Object::Ptr parse(const std::string& text) {
    return Poco::JSON::Parser().parse(text).extract<Object::Ptr>();
}

std::string stringify(const Object::Ptr& object) {
    std::ostringstream out;
    object->stringify(out);
    return out.str();
}

// Two faults: one with a condition of two texts, one without conditions.
std::vector<Fault> twoFaults() {
    std::vector<Fault> faults;
    faults.emplace_back("Code.One", "first",
                        std::vector<FaultCondition>{{"cond", {u"info", u"\u00df"}}});
    faults.emplace_back("Code.Two", "second", std::vector<FaultCondition>());
    return faults;
}

template <class C>
std::unique_ptr<Message> decode(const std::string& json) {
    return codecOf(typeid(C)).deserialize(parse(json));
}

template <class C>
const C& as(const std::unique_ptr<Message>& message) {
    const C* typed = dynamic_cast<const C*>(message.get());
    if (typed == nullptr) throw std::logic_error("decoded message has the wrong class");
    return *typed;
}

// Every class through the serializer: its type name, its exact wire form (the parser orders
// keys, so texts compare as objects), its class when decoded, and the wire form of what was
// decoded, which is the wire form itself unless some field is written but never read.
TEST(JsonCodecTest, EveryClassHasItsExactWireFormAndReadsBack) {
    auto serializer = std::make_shared<connector::json::JsonSerializer>();
    InformationJsonSerialization registration(serializer);
    auto canonical = [](const std::string& json) { return stringify(parse(json)); };
    auto roundTrip = [&](const std::string& typeName, std::unique_ptr<Message> original,
                         const std::string& wire, const std::string& back = "") {
        SCOPED_TRACE(typeName);
        auto encoded = serializer->serialize(original);
        EXPECT_EQ(encoded.typeName, typeName);
        EXPECT_EQ(canonical(stringify(encoded.object)), canonical(wire));
        auto decoded = serializer->deserialize(typeName, parse(stringify(encoded.object)));
        EXPECT_EQ(typeid(*decoded), typeid(*original));
        EXPECT_EQ(canonical(stringify(serializer->serialize(decoded).object)),
                  canonical(back.empty() ? wire : back));
        return decoded;
    };
    const StringTable properties{{"TYPE", "jsd"}, {"SERVICE_ENDPOINT", "http://127.0.0.1:31515/x"}};
    const std::string table = R"({"TYPE": "jsd", "SERVICE_ENDPOINT": "http://127.0.0.1:31515/x"})";
    const std::string second =
        R"({"faultCode": "Code.Two", "message": "second", "faultConditions": []}]})";
    const std::string faults = R"(, "messageFaults": [{"faultCode": "Code.One", "message": "first",
        "faultConditions": [{"faultId": "cond", "faultInfo": ["info", "\u00df"]}]}, )" +
                               second;
    const std::string faultsBack =
        R"(, "messageFaults": [{"faultCode": "Code.One", "message": "first",
        "faultConditions": []}, )" +
        second;
    const std::u16string farHome = u"/home/\u00fcser/\U0001D11E dir/ ";
    const std::string farHomeJson = R"({"userHomeDir": "/home/\u00fcser/\ud834\udd1e dir/ "})";

    roundTrip("connector/v1/ClientType", std::make_unique<ClientType>("u1", properties),
              R"({"uuid": "u1", "properties": )" + table + "}");
    roundTrip("connector/v1/ClientTypeResponse",
              std::make_unique<ClientTypeResponse>("u2", properties, twoFaults()),
              R"({"uuid": "u2", "properties": )" + table + faults,
              R"({"uuid": "u2", "properties": )" + table + faultsBack);
    roundTrip("connector/v1/EnabledFeatures",
              std::make_unique<EnabledFeatures>(
                  "u3", std::vector<std::string>{"isGDSEnabled", "", "isGDSEnabled"}),
              R"({"uuid": "u3", "features": ["isGDSEnabled", "", "isGDSEnabled"]})");
    roundTrip("connector/v1/EnabledFeaturesResponse",
              std::make_unique<EnabledFeaturesResponse>(
                  "u4", FlagTable{{"isGDSEnabled", true}, {"isLoginRequired", false}},
                  u"4.2.0 \u00e9", std::vector<Fault>()),
              R"({"uuid": "u4", "features": {"isGDSEnabled": true, "isLoginRequired": false},
                  "quorixVersion": "4.2.0 \u00e9", "messageFaults": []})");
    roundTrip("connector/v1/ServiceRegistry",
              std::make_unique<ServiceRegistryRequest>("u5", StringTable{{"service", "s"}}),
              R"({"uuid": "u5", "properties": {"service": "s"}})");
    const std::string registry = R"({"uuid": "u6", "properties": {"service": "s", "endpoint": ""})";
    roundTrip("connector/v1/ServiceRegistryResponse",
              std::make_unique<ServiceRegistryResponse>(
                  "u6", StringTable{{"service", "s"}, {"endpoint", ""}}, twoFaults()),
              registry + faults, registry + faultsBack);
    auto setHome = std::make_unique<SetUserHomeDir>(farHome);
    setHome->uuid = "not-carried";
    auto decoded = roundTrip("connector/v1/SetUserHomeDir", std::move(setHome), farHomeJson);
    EXPECT_EQ(as<SetUserHomeDir>(decoded).uuid, "");
    auto setHomeResponse = std::make_unique<SetUserHomeDirResponse>();
    setHomeResponse->faults = twoFaults();  // never carried
    roundTrip("connector/v1/SetUserHomeDirResponse", std::move(setHomeResponse), "{}");
    decoded = roundTrip("connector/v1/GetUserHomeDir", std::make_unique<GetUserHomeDir>(), "{}");
    EXPECT_EQ(as<GetUserHomeDir>(decoded).uuid, "");
    auto home = std::make_unique<GetUserHomeDirResponse>(farHome);
    home->faults = twoFaults();  // never carried
    roundTrip("connector/v1/GetUserHomeDirResponse", std::move(home), farHomeJson);
    roundTrip("connector/v1/GetCurrentClientProperties",
              std::make_unique<GetCurrentClientProperties>(), "{}");
    roundTrip("connector/v1/GetCurrentClientPropertiesResponse",
              std::make_unique<GetCurrentClientPropertiesResponse>(properties),
              R"({"properties": )" + table + "}");
}

TEST(JsonCodecTest, ReadersAreLenientAboutAbsentNullAndMistypedValues) {
    auto empty = decode<ClientType>("{}");
    EXPECT_EQ(as<ClientType>(empty).uuid, "notset");
    EXPECT_TRUE(as<ClientType>(empty).properties.empty());
    auto mixed = decode<ClientType>(
        R"({"uuid": 5, "properties": {"b": true, "n": null, "o": {"x": [1, 2]}, "d": 1.5}})");
    EXPECT_EQ(as<ClientType>(mixed).uuid, "5");
    EXPECT_EQ(as<ClientType>(mixed).properties,
              (StringTable{{"b", "true"}, {"n", ""}, {"o", R"({"x":[1,2]})"}, {"d", "1.5"}}));
    EXPECT_TRUE(as<ServiceRegistryRequest>(decode<ServiceRegistryRequest>(R"({"properties": [1]})"))
                    .properties.empty());

    auto features = decode<EnabledFeatures>(
        R"({"uuid": null, "features": ["a", null, {"k": "v"}, [], 3, false]})");
    EXPECT_EQ(as<EnabledFeatures>(features).uuid, "notset");
    EXPECT_EQ(as<EnabledFeatures>(features).features,
              (std::vector<std::string>{"a", "", R"({"k":"v"})", "[]", "3", "false"}));
    EXPECT_TRUE(
        as<EnabledFeatures>(decode<EnabledFeatures>(R"({"features": {}})")).features.empty());

    auto flags = decode<EnabledFeaturesResponse>(
        R"({"features": {"t": true, "f": "false", "z": "0", "e": "", "F": "FALSE", "n": null,
                         "y": "yes", "one": 1, "zero": 0}})");
    const auto& response = as<EnabledFeaturesResponse>(flags);
    EXPECT_EQ(response.features, (FlagTable{{"t", true},
                                            {"f", false},
                                            {"z", false},
                                            {"e", false},
                                            {"F", false},
                                            {"n", false},
                                            {"y", true},
                                            {"one", true},
                                            {"zero", false}}));
    EXPECT_EQ(response.quorixVersion, u"");
    EXPECT_EQ(response.uuid, "notset");

    auto faulted = decode<ClientTypeResponse>(
        R"({"messageFaults": [{"faultCode": "C", "message": "M",
              "faultConditions": [{"faultId": "i", "faultInfo": ["x"]}]},
             7, "text", null, [], {"faultCode": 3}]})");
    const auto& faults = as<ClientTypeResponse>(faulted).faults;
    ASSERT_EQ(faults.size(), 2u);
    EXPECT_EQ(faults[0].faultCode, "C");
    EXPECT_EQ(faults[0].message, "M");
    EXPECT_TRUE(faults[0].faultConditions.empty());
    EXPECT_EQ(faults[1].faultCode, "3");
    EXPECT_EQ(faults[1].message, "");
    EXPECT_TRUE(as<ClientTypeResponse>(decode<ClientTypeResponse>(R"({"messageFaults": {"a": 1}})"))
                    .faults.empty());
}

// Every row of the codec table, in registration order: the three classes without wire fields
// decode even an empty pointer, every other refuses it before building anything. Text that is
// not valid UTF-8 or UTF-16 is refused with a clear error.
TEST(JsonCodecTest, EmptyObjectsAndInvalidTextAreRefused) {
    const std::set<std::type_index> withoutKeys = {
        typeid(GetUserHomeDir), typeid(SetUserHomeDirResponse), typeid(GetCurrentClientProperties)};
    std::vector<std::string> rows;
    for (const MessageCodec& codec : messageCodecs()) {
        SCOPED_TRACE(codec.typeName);
        rows.push_back(codec.typeName);
        if (withoutKeys.count(codec.type) != 0) {
            auto message = codec.deserialize(Object::Ptr());
            ASSERT_NE(message, nullptr);
            EXPECT_EQ(std::type_index(typeid(*message)), std::type_index(codec.type));
        } else {
            EXPECT_THROW((void)codec.deserialize(Object::Ptr()), Poco::NullPointerException);
        }
    }
    EXPECT_EQ(rows, TYPE_NAMES);
    EXPECT_THROW((void)codecOf(typeid(Message)), std::invalid_argument);

    Object::Ptr invalid = new Object(0);
    invalid->set("userHomeDir", std::string("ok\xC3("));
    try {
        (void)codecOf(typeid(SetUserHomeDir)).deserialize(invalid);
        FAIL() << "invalid UTF-8 was accepted";
    } catch (const fl::i18n::conversion_error& error) {
        EXPECT_STREQ(error.what(), "Invalid UTF-8 text: bad byte sequence at byte 2 of 4");
    }
    std::unique_ptr<Message> loneSurrogate =
        std::make_unique<SetUserHomeDir>(std::u16string{u'a', 0xD800});
    EXPECT_THROW((void)codecOf(typeid(SetUserHomeDir)).serialize(loneSurrogate),
                 fl::i18n::conversion_error);
}

// Records every call instead of registering; can fail on a chosen registration.
class RecordingSerializer : public connector::json::JsonSerializer {
  public:
    void registerType(const std::string& typeName, const std::type_info& type,
                      connector::json::SerializerFn serializer,
                      connector::json::DeserializerFn deserializer) override {
        if (static_cast<int>(registered.size()) == failAt)
            throw std::runtime_error("registration refused");
        EXPECT_TRUE(serializer && deserializer) << typeName;
        registered.push_back(typeName);
        registeredTypes.emplace_back(type);
    }
    void unregisterType(const std::type_info& type) override { withdrawn.emplace_back(type); }

    int failAt = -1;
    std::vector<std::string> registered;
    std::vector<std::type_index> registeredTypes;
    std::vector<std::type_index> withdrawn;
};

// Registers the twelve in order and withdraws them in the same order when it ends; copies
// register nothing and each withdraws all; a failing registration leaves the earlier rows.
TEST(JsonRegistrationTest, RegistersTwelveInOrderAndEachInstanceWithdrawsThemAll) {
    auto recorder = std::make_shared<RecordingSerializer>(),
         other = std::make_shared<RecordingSerializer>();
    {
        InformationJsonSerialization original(recorder);
        EXPECT_EQ(recorder->registered, TYPE_NAMES);
        EXPECT_EQ(recorder->registeredTypes[4], std::type_index(typeid(ServiceRegistryRequest)));
        {
            InformationJsonSerialization copy(original), assigned(other);
            assigned = original;
            EXPECT_EQ(recorder->registered.size(), 12u);
            EXPECT_TRUE(other->withdrawn.empty());  // assignment withdraws nothing
            EXPECT_EQ(recorder.use_count(), 4);     // shared by the test and three instances
        }
        EXPECT_EQ(recorder->withdrawn.size(), 24u);
    }
    EXPECT_EQ(
        std::vector<std::type_index>(recorder->withdrawn.begin() + 24, recorder->withdrawn.end()),
        recorder->registeredTypes);
    EXPECT_EQ(other.use_count(), 1);

    auto failing = std::make_shared<RecordingSerializer>();
    failing->failAt = 2;
    EXPECT_THROW(InformationJsonSerialization registration(failing), std::runtime_error);
    EXPECT_EQ(failing->registered.size(), 2u);
    EXPECT_TRUE(failing->withdrawn.empty());
    EXPECT_EQ(failing.use_count(), 1);
}

// With the framework's own serializer: once the registration ends, its types can no longer be
// encoded or decoded.
TEST(JsonRegistrationTest, TheFrameworkSerializerForgetsTheTypesWhenTheRegistrationEnds) {
    auto serializer = std::make_shared<connector::json::JsonSerializer>();
    std::unique_ptr<Message> request = std::make_unique<ServiceRegistryRequest>("u", StringTable());
    connector::json::JsonSerializer::Encoded encoded;
    {
        InformationJsonSerialization registration(serializer);
        encoded = serializer->serialize(request);
    }
    EXPECT_FALSE(serializer->isRegistered("connector/v1/ServiceRegistry"));
    EXPECT_THROW((void)serializer->serialize(request), std::invalid_argument);
    EXPECT_THROW((void)serializer->deserialize("connector/v1/ServiceRegistry", encoded.object),
                 std::invalid_argument);
}

}  // namespace
