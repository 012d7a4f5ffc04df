// The JSON codecs of the twelve messages: their exact wire forms through the framework's
// serializer, faults written in full, lenient readers, refusal of a missing object where keys
// are read, and UTF-8 / UTF-16 text with a clear error for invalid text.
#include <Poco/Exception.h>
#include <Poco/JSON/Parser.h>
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <typeindex>

#include "connector/framework/JsonSerializer.hpp"
#include "connector/information/src/JsonCodecs.hpp"
#include "connector/information/v1/ClientType.hpp"
#include "connector/information/v1/ClientTypeResponse.hpp"
#include "connector/information/v1/EnabledFeatures.hpp"
#include "connector/information/v1/EnabledFeaturesResponse.hpp"
#include "connector/information/v1/GetCurrentClientProperties.hpp"
#include "connector/information/v1/GetCurrentClientPropertiesResponse.hpp"
#include "connector/information/v1/GetUserHomeDir.hpp"
#include "connector/information/v1/GetUserHomeDirResponse.hpp"
#include "connector/information/v1/InformationJsonSerialization.hpp"
#include "connector/information/v1/ServiceRegistryRequest.hpp"
#include "connector/information/v1/ServiceRegistryResponse.hpp"
#include "connector/information/v1/SetUserHomeDir.hpp"
#include "connector/information/v1/SetUserHomeDirResponse.hpp"
#include "host/i18n/Converters.hpp"

namespace {

using namespace connector::information::v1;
using connector::Message;
using connector::common::v1::Fault;
using connector::common::v1::FaultCondition;
using connector::common::v1::Version;
using Poco::JSON::Object;

Object::Ptr parse(const std::string& text) {
    return Poco::JSON::Parser().parse(text).extract<Object::Ptr>();
}

std::string stringify(const Object::Ptr& object) {
    std::ostringstream out;
    object->stringify(out);
    return out.str();
}

std::vector<Fault> oneFault() {
    std::vector<Fault> faults;
    faults.emplace_back("Code.One", "first", std::vector<FaultCondition>{{"cond", {u"info"}}});
    return faults;
}

template <class C>
Object::Ptr encode(const std::unique_ptr<Message>& message) {
    return codecOf(typeid(C)).serialize(message);
}

template <class C>
std::unique_ptr<Message> decode(Object::Ptr object) {
    return codecOf(typeid(C)).deserialize(std::move(object));
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
    const std::string faults =
        R"([{"faultCode": "Code.One", "message": "first", "faultConditions": [)";
    const std::string condition = R"({"faultId": "cond", "faultInfo": ["info"]})";
    const std::u16string farHome = u"/home/\u00fcser/\U0001D11E dir/ ";
    const std::string farHomeJson = R"({"userHomeDir": "/home/\u00fcser/\ud834\udd1e dir/ "})";

    auto clientType = std::make_unique<ClientType>("u1", properties);
    clientType->version.major = 9;  // never carried
    auto decoded = roundTrip("connector/v1/ClientType", std::move(clientType),
                             R"({"uuid": "u1", "properties": )" + table + "}");
    EXPECT_TRUE(as<ClientType>(decoded).version == Version());
    roundTrip(
        "connector/v1/ClientTypeResponse",
        std::make_unique<ClientTypeResponse>("u2", properties, oneFault()),
        R"({"uuid": "u2", "properties": )" + table + R"(, "messageFaults": )" + faults + condition +
            "]}]}",
        R"({"uuid": "u2", "properties": )" + table + R"(, "messageFaults": )" + faults + "]}]}");
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
    const std::string registry = R"({"uuid": "u6", "properties": {"service": "s", "endpoint": ""},
                                     "messageFaults": )" +
                                 faults;
    roundTrip("connector/v1/ServiceRegistryResponse",
              std::make_unique<ServiceRegistryResponse>(
                  "u6", StringTable{{"service", "s"}, {"endpoint", ""}}, oneFault()),
              registry + condition + "]}]}", registry + "]}]}");
    auto setHome = std::make_unique<SetUserHomeDir>(farHome);
    setHome->uuid = "not-carried";
    decoded = roundTrip("connector/v1/SetUserHomeDir", std::move(setHome), farHomeJson);
    EXPECT_EQ(as<SetUserHomeDir>(decoded).uuid, "");
    auto setHomeResponse = std::make_unique<SetUserHomeDirResponse>();
    setHomeResponse->faults = oneFault();  // never carried
    roundTrip("connector/v1/SetUserHomeDirResponse", std::move(setHomeResponse), "{}");
    decoded = roundTrip("connector/v1/GetUserHomeDir", std::make_unique<GetUserHomeDir>(), "{}");
    EXPECT_EQ(as<GetUserHomeDir>(decoded).uuid, "");
    auto home = std::make_unique<GetUserHomeDirResponse>(farHome);
    home->faults = oneFault();  // never carried
    roundTrip("connector/v1/GetUserHomeDirResponse", std::move(home), farHomeJson);
    roundTrip("connector/v1/GetCurrentClientProperties",
              std::make_unique<GetCurrentClientProperties>(), "{}");
    roundTrip("connector/v1/GetCurrentClientPropertiesResponse",
              std::make_unique<GetCurrentClientPropertiesResponse>(properties),
              R"({"properties": )" + table + "}");
}

TEST(JsonCodecTest, FaultsAreWrittenInFullEvenWhenEmpty) {
    std::unique_ptr<Message> bare =
        std::make_unique<ClientTypeResponse>("u", StringTable{}, std::vector<Fault>());
    Object::Ptr json = parse(stringify(encode<ClientTypeResponse>(bare)));
    EXPECT_EQ(json->getArray("messageFaults")->size(), 0u);

    std::vector<Fault> faults;
    faults.emplace_back("C", "M", std::vector<FaultCondition>());
    faults.emplace_back("C2", "M2", std::vector<FaultCondition>{{"id", {u"a", u"\u00df"}}});
    std::unique_ptr<Message> full =
        std::make_unique<ServiceRegistryResponse>("u", StringTable{}, std::move(faults));
    json = parse(stringify(encode<ServiceRegistryResponse>(full)));
    auto list = json->getArray("messageFaults");
    ASSERT_EQ(list->size(), 2u);
    EXPECT_EQ(list->getObject(0)->getArray("faultConditions")->size(), 0u);
    auto condition = list->getObject(1)->getArray("faultConditions")->getObject(0);
    EXPECT_EQ(condition->getValue<std::string>("faultId"), "id");
    EXPECT_EQ(condition->getArray("faultInfo")->getElement<std::string>(1), "\xc3\x9f");
    EXPECT_EQ(list->getObject(1)->getValue<std::string>("faultCode"), "C2");
}

TEST(JsonCodecTest, ReadersAreLenientAboutAbsentNullAndMistypedValues) {
    auto empty = decode<ClientType>(parse("{}"));
    EXPECT_EQ(as<ClientType>(empty).uuid, "notset");
    EXPECT_TRUE(as<ClientType>(empty).properties.empty());

    auto mixed = decode<ClientType>(parse(
        R"({"uuid": 5, "properties": {"b": true, "n": null, "o": {"x": [1, 2]}, "d": 1.5}})"));
    EXPECT_EQ(as<ClientType>(mixed).uuid, "5");
    EXPECT_EQ(as<ClientType>(mixed).properties,
              (StringTable{{"b", "true"}, {"n", ""}, {"o", R"({"x":[1,2]})"}, {"d", "1.5"}}));
    EXPECT_TRUE(
        as<ServiceRegistryRequest>(decode<ServiceRegistryRequest>(parse(R"({"properties": [1]})")))
            .properties.empty());

    auto features = decode<EnabledFeatures>(
        parse(R"({"uuid": null, "features": ["a", null, {"k": "v"}, [], 3, false]})"));
    EXPECT_EQ(as<EnabledFeatures>(features).uuid, "notset");
    EXPECT_EQ(as<EnabledFeatures>(features).features,
              (std::vector<std::string>{"a", "", R"({"k":"v"})", "[]", "3", "false"}));
    EXPECT_TRUE(as<EnabledFeatures>(decode<EnabledFeatures>(parse(R"({"features": {}})")))
                    .features.empty());

    auto flags = decode<EnabledFeaturesResponse>(parse(
        R"({"features": {"t": true, "f": "false", "z": "0", "e": "", "F": "FALSE", "n": null,
                         "y": "yes", "one": 1, "zero": 0}})"));
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

    auto faulted = decode<ClientTypeResponse>(parse(
        R"({"messageFaults": [{"faultCode": "C", "message": "M",
              "faultConditions": [{"faultId": "i", "faultInfo": ["x"]}]},
             7, "text", null, [], {"faultCode": 3}]})"));
    const auto& faults = as<ClientTypeResponse>(faulted).faults;
    ASSERT_EQ(faults.size(), 2u);
    EXPECT_EQ(faults[0].faultCode, "C");
    EXPECT_EQ(faults[0].message, "M");
    EXPECT_TRUE(faults[0].faultConditions.empty());
    EXPECT_EQ(faults[1].faultCode, "3");
    EXPECT_EQ(faults[1].message, "");
    EXPECT_TRUE(
        as<ClientTypeResponse>(decode<ClientTypeResponse>(parse(R"({"messageFaults": {"a": 1}})")))
            .faults.empty());
}

// Every row of the codec table: the three classes without wire fields decode even an empty
// pointer, every other refuses it before building anything.
TEST(JsonCodecTest, EmptyObjectPointerIsRefusedOnlyWhereKeysAreRead) {
    const std::set<std::type_index> withoutKeys = {
        typeid(GetUserHomeDir), typeid(SetUserHomeDirResponse), typeid(GetCurrentClientProperties)};
    std::size_t rows = 0;
    for (const MessageCodec& codec : messageCodecs()) {
        SCOPED_TRACE(codec.typeName);
        ++rows;
        if (withoutKeys.count(codec.type) != 0) {
            auto message = codec.deserialize(Object::Ptr());
            ASSERT_NE(message, nullptr);
            EXPECT_EQ(std::type_index(typeid(*message)), std::type_index(codec.type));
        } else {
            EXPECT_THROW((void)codec.deserialize(Object::Ptr()), Poco::NullPointerException);
        }
    }
    EXPECT_EQ(rows, 12u);
    EXPECT_THROW((void)codecOf(typeid(Message)), std::invalid_argument);
}

TEST(JsonCodecTest, HomeDirectoryTravelsAsUtf8AndInvalidTextIsAClearError) {
    std::unique_ptr<Message> response = std::make_unique<GetUserHomeDirResponse>(u"C:\\\U0001F600");
    Object::Ptr json = encode<GetUserHomeDirResponse>(response);
    EXPECT_EQ(json->getValue<std::string>("userHomeDir"), "C:\\\xF0\x9F\x98\x80");

    auto decoded = decode<SetUserHomeDir>(parse(R"({"userHomeDir": "\ud834\udd1e/x"})"));
    const std::u16string expected{0xD834, 0xDD1E, u'/', u'x'};
    EXPECT_EQ(as<SetUserHomeDir>(decoded).userHomeDir, expected);

    Object::Ptr invalid = new Object(0);
    invalid->set("userHomeDir", std::string("ok\xC3("));
    try {
        (void)decode<SetUserHomeDir>(invalid);
        FAIL() << "invalid UTF-8 was accepted";
    } catch (const fl::i18n::conversion_error& error) {
        EXPECT_STREQ(error.what(), "Invalid UTF-8 text: bad byte sequence at byte 2 of 4");
    }
    std::unique_ptr<Message> loneSurrogate =
        std::make_unique<SetUserHomeDir>(std::u16string{u'a', 0xD800});
    EXPECT_THROW((void)encode<SetUserHomeDir>(loneSurrogate), fl::i18n::conversion_error);
}

}  // namespace
