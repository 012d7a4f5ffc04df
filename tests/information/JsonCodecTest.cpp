// The JSON codecs of the twelve messages: their exact wire forms through the framework's
// serializer, faults written in full, lenient readers, refusal of a missing object where keys
// are read, and invalid text; and the registration of the twelve types: the order, what copies
// and assignment do, what a failing registration leaves behind, and that ending it withdraws
// them.
#include <Poco/Exception.h>
#include <Poco/JSON/Parser.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <typeindex>

#include "../support/InformationStack.hpp"
#include "connector/framework/JsonSerializer.hpp"
#include "connector/information/src/JsonCodecs.hpp"
#include "host/i18n/Converters.hpp"

namespace {

using namespace connector::information::v1;
using connector::Message;
using connector::common::v1::Fault;
using Poco::JSON::Object;
using testsupport::Names;

Object::Ptr parse(const std::string& text) {
    return Poco::JSON::Parser().parse(text).extract<Object::Ptr>();
}

// Two faults: one with a condition of two texts, one without conditions.
std::vector<Fault> twoFaults() {
    std::vector<Fault> faults;
    faults.emplace_back(
        "C1", "m1", std::vector<connector::common::v1::FaultCondition>{{"i", {u"x", u"\u00df"}}});
    faults.emplace_back("C2", "m2", std::vector<connector::common::v1::FaultCondition>());
    return faults;
}

class JsonCodecTest : public testsupport::InformationStack {};

// Each message's type name and exact wire form, its class when decoded, and the wire form of what
// was decoded: the wire form itself unless some field is written but never read (then `back`).
// Fields a class does not carry are set and stay off the wire.
TEST_F(JsonCodecTest, EveryClassHasItsExactWireFormAndReadsBack) {
    const StringTable properties{{"TYPE", "jsd"}, {"endpoint", "http://x"}};
    const std::string table = R"("properties": {"TYPE": "jsd", "endpoint": "http://x"})",
                      uuid = R"({"uuid": "u", )";
    const std::string first =
        R"(, "messageFaults": [{"faultCode": "C1", "message": "m1", "faultConditions": )";
    const std::string second =
        R"(}, {"faultCode": "C2", "message": "m2", "faultConditions": []}]})";
    const std::string faults =
        first + R"([{"faultId": "i", "faultInfo": ["x", "\u00df"]}])" + second;
    const std::string faultsBack = first + "[]" + second;  // conditions are written, never read
    const std::u16string home = u"/home/\u00fcser/\U0001D11E dir/ ";
    const std::string homeJson = R"({"userHomeDir": "/home/\u00fcser/\ud834\udd1e dir/ "})";
    auto clientType = std::make_unique<ClientType>("u", properties);
    clientType->version.major = 9;
    auto setHome = std::make_unique<SetUserHomeDir>(home);
    setHome->uuid = "not-carried";
    auto setHomeResponse = std::make_unique<SetUserHomeDirResponse>();
    setHomeResponse->faults = twoFaults();
    auto homeResponse = std::make_unique<GetUserHomeDirResponse>(home);
    homeResponse->faults = twoFaults();
    const FlagTable flags{{"isGDSEnabled", true}, {"isQGGEnabled", false}};
    struct Case {
        const char* type;
        std::unique_ptr<Message> message;
        std::string wire, back = {};
    } cases[] = {
        {"ClientType", std::move(clientType), uuid + table + "}"},
        {"ClientTypeResponse", std::make_unique<ClientTypeResponse>("u", properties, twoFaults()),
         uuid + table + faults, uuid + table + faultsBack},
        {"EnabledFeatures",
         std::make_unique<EnabledFeatures>("u", Names{"isGDSEnabled", "", "isGDSEnabled"}),
         uuid + R"("features": ["isGDSEnabled", "", "isGDSEnabled"]})"},
        {"EnabledFeaturesResponse",
         std::make_unique<EnabledFeaturesResponse>("u", flags, u"4.2 \u00e9", std::vector<Fault>()),
         uuid + R"("features": {"isGDSEnabled": true, "isQGGEnabled": false},
                   "quorixVersion": "4.2 \u00e9", "messageFaults": []})"},
        {"ServiceRegistry", std::make_unique<ServiceRegistryRequest>("u", properties),
         uuid + table + "}"},
        {"ServiceRegistryResponse",
         std::make_unique<ServiceRegistryResponse>("u", properties, twoFaults()),
         uuid + table + faults, uuid + table + faultsBack},
        {"SetUserHomeDir", std::move(setHome), homeJson},
        {"SetUserHomeDirResponse", std::move(setHomeResponse), "{}"},
        {"GetUserHomeDir", std::make_unique<GetUserHomeDir>(), "{}"},
        {"GetUserHomeDirResponse", std::move(homeResponse), homeJson},
        {"GetCurrentClientProperties", std::make_unique<GetCurrentClientProperties>(), "{}"},
        {"GetCurrentClientPropertiesResponse",
         std::make_unique<GetCurrentClientPropertiesResponse>(properties), "{" + table + "}"}};
    for (const auto& [type, original, wire, back] : cases) {
        const std::string typeName = std::string("connector/v1/") + type;
        SCOPED_TRACE(typeName);
        auto encoded = serializer->serialize(original);
        EXPECT_EQ(encoded.typeName, typeName);
        EXPECT_EQ(canonical(encoded.object), canonical(parse(wire)));
        auto decoded = serializer->deserialize(typeName, parse(canonical(encoded.object)));
        EXPECT_EQ(typeid(*decoded), typeid(*original));
        const auto* client = dynamic_cast<const ClientType*>(decoded.get());
        EXPECT_TRUE(!client || client->version == connector::common::v1::Version());  // not 9
        EXPECT_EQ(canonical(serializer->serialize(decoded).object),
                  canonical(parse(back.empty() ? wire : back)));
    }
}

// What a reader makes of absent, null and mistyped values, as its message is written again.
TEST_F(JsonCodecTest, ReadersAreLenientAboutAbsentNullAndMistypedValues) {
    const std::string noFaults = R"("uuid": "notset", "properties": {}, "messageFaults": )";
    const std::tuple<const char*, const char*, std::string> cases[] = {
        {"ClientType",
         R"({"uuid": 5, "properties": {"b": true, "n": null, "o": {"x": [1, 2]}, "d": 1.5}})",
         R"({"uuid": "5", "properties": {"b": "true", "n": "", "o": "{\"x\":[1,2]}",
             "d": "1.5"}})"},
        {"ServiceRegistry", R"({"properties": [1]})", R"({"uuid": "notset", "properties": {}})"},
        {"EnabledFeatures", R"({"uuid": null, "features": ["a", null, {"k": "v"}, [], 3, false]})",
         R"({"uuid": "notset", "features": ["a", "", "{\"k\":\"v\"}", "[]", "3", "false"]})"},
        {"EnabledFeatures", R"({"features": {}})", R"({"uuid": "notset", "features": []})"},
        {"EnabledFeaturesResponse",
         R"({"features": {"t": true, "f": "false", "z": "0", "e": "", "F": "FALSE", "n": null,
                          "y": "yes", "one": 1, "zero": 0}})",
         R"({"uuid": "notset", "quorixVersion": "", "messageFaults": [], "features": {"t": true,
             "f": false, "z": false, "e": false, "F": false, "n": false, "y": true, "one": true,
             "zero": false}})"},
        {"ClientTypeResponse",
         R"({"messageFaults": [{"faultCode": "C", "message": "M", "faultConditions":
              [{"faultId": "i", "faultInfo": ["x"]}]}, 7, "text", null, [], {"faultCode": 3}]})",
         "{" + noFaults + R"([{"faultCode": "C", "message": "M", "faultConditions": []},
                              {"faultCode": "3", "message": "", "faultConditions": []}]})"},
        {"ClientTypeResponse", R"({"messageFaults": {"a": 1}})", "{" + noFaults + "[]}"},
    };
    for (const auto& [type, json, written] : cases) {
        SCOPED_TRACE(json);
        auto decoded = serializer->deserialize(std::string("connector/v1/") + type, parse(json));
        EXPECT_EQ(canonical(serializer->serialize(decoded).object), canonical(parse(written)));
    }
}

// The three classes without wire fields decode even an empty pointer, every other refuses it
// before building anything. Text that is not valid UTF-8 or UTF-16 is refused with a clear error.
TEST_F(JsonCodecTest, EmptyObjectsAndInvalidTextAreRefused) {
    const std::set<std::type_index> withoutKeys = {
        typeid(GetUserHomeDir), typeid(SetUserHomeDirResponse), typeid(GetCurrentClientProperties)};
    for (const MessageCodec& codec : messageCodecs()) {
        SCOPED_TRACE(codec.typeName);
        if (withoutKeys.count(codec.type) == 0) {
            EXPECT_THROW((void)codec.deserialize(Object::Ptr()), Poco::NullPointerException);
            continue;
        }
        auto message = codec.deserialize(Object::Ptr());
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(std::type_index(typeid(*message)), std::type_index(codec.type));
    }
    EXPECT_THROW((void)codecOf(typeid(Message)), std::invalid_argument);

    Object::Ptr invalid = new Object(0);
    invalid->set("userHomeDir", std::string("ok\xC3("));
    EXPECT_THROW((void)codecOf(typeid(SetUserHomeDir)).deserialize(invalid),
                 fl::i18n::conversion_error);
    EXPECT_EQ(testsupport::errorText(
                  [&] { (void)serializer->deserialize("connector/v1/SetUserHomeDir", invalid); }),
              "Invalid UTF-8 text: bad byte sequence at byte 2 of 4");
    std::unique_ptr<Message> loneSurrogate =
        std::make_unique<SetUserHomeDir>(std::u16string{u'a', 0xD800});
    EXPECT_THROW((void)serializer->serialize(loneSurrogate), fl::i18n::conversion_error);
}

// Writes every call down instead of registering ("+<name> " and "-<name> ", the name without
// "connector/v1/", which EveryClassHasItsExactWireFormAndReadsBack checks); can refuse a chosen
// registration.
class RecordingSerializer : public connector::json::JsonSerializer {
  public:
    void registerType(const std::string& typeName, const std::type_info& type,
                      connector::json::SerializerFn, connector::json::DeserializerFn) override {
        if (names.size() == failAt) throw std::runtime_error("registration refused");
        names[type] = typeName.substr(std::string("connector/v1/").size());
        calls += "+" + names[type] + " ";
    }
    void unregisterType(const std::type_info& type) override { calls += "-" + names[type] + " "; }

    std::size_t failAt = 12;
    std::map<std::type_index, std::string> names;
    std::string calls;
};

// Registers the twelve in order and withdraws them in the same order when it ends; copies
// register nothing and each withdraws all; a failing registration leaves the earlier rows.
TEST(JsonRegistrationTest, RegistersTwelveInOrderAndEachInstanceWithdrawsThemAll) {
    std::string added, withdrawn;
    for (const std::string name :
         {"ClientType", "ClientTypeResponse", "EnabledFeatures", "EnabledFeaturesResponse",
          "ServiceRegistry", "ServiceRegistryResponse", "SetUserHomeDir", "SetUserHomeDirResponse",
          "GetUserHomeDir", "GetUserHomeDirResponse", "GetCurrentClientProperties",
          "GetCurrentClientPropertiesResponse"})
        added += "+" + name + " ", withdrawn += "-" + name + " ";
    auto recorder = std::make_shared<RecordingSerializer>(),
         other = std::make_shared<RecordingSerializer>();
    {
        InformationJsonSerialization original(recorder);
        EXPECT_EQ(recorder->calls, added);
        {
            InformationJsonSerialization copy(original), assigned(other);
            assigned = original;                 // withdraws nothing from `other`
            EXPECT_EQ(recorder.use_count(), 4);  // shared by the test and three instances
        }
        EXPECT_EQ(recorder->calls, added + withdrawn + withdrawn);
    }
    EXPECT_EQ(recorder->calls, added + withdrawn + withdrawn + withdrawn);
    EXPECT_EQ(other->calls, added);
    EXPECT_EQ(other.use_count(), 1);

    auto failing = std::make_shared<RecordingSerializer>();
    failing->failAt = 2;
    EXPECT_THROW(InformationJsonSerialization registration(failing), std::runtime_error);
    EXPECT_EQ(failing->calls, "+ClientType +ClientTypeResponse ");
    EXPECT_EQ(failing.use_count(), 1);
}

}  // namespace
