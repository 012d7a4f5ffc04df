#include <Poco/Exception.h>
#include <Poco/JSON/Parser.h>
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <sstream>

#include "connector/framework/JsonSerializer.hpp"
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
#include "v1/JsonCodecs.hpp"

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

std::set<std::string> keysOf(const Object::Ptr& object) {
    auto names = object->getNames();
    return {names.begin(), names.end()};
}

std::vector<Fault> oneFault() {
    std::vector<Fault> faults;
    faults.emplace_back("Code.One", "first", std::vector<FaultCondition>{{"cond", {u"info"}}});
    return faults;
}

template <class C>
const C& as(const std::unique_ptr<Message>& message) {
    const C* typed = dynamic_cast<const C*>(message.get());
    if (typed == nullptr) throw std::logic_error("decoded message has the wrong class");
    return *typed;
}

struct RoundTripCase {
    std::string typeName;
    std::function<std::unique_ptr<Message>()> make;
    std::set<std::string> wireKeys;
    std::function<void(const std::unique_ptr<Message>&)> check;
};

TEST(JsonCodecTest, EveryClassRoundTripsThroughTheSerializerWithItsWireFieldsOnly) {
    const StringTable properties{{"TYPE", "jsd"}, {"SERVICE_ENDPOINT", "http://127.0.0.1:31515/x"}};
    const std::u16string farHome = u"/home/\u00fcser/\U0001D11E dir/ ";
    const std::vector<RoundTripCase> cases = {
        {"connector/v1/ClientType",
         [&] {
             auto m = std::make_unique<ClientType>("u1", properties);
             m->version.major = 9;  // never carried
             return m;
         },
         {"uuid", "properties"},
         [&](const auto& d) {
             EXPECT_EQ(as<ClientType>(d).uuid, "u1");
             EXPECT_EQ(as<ClientType>(d).properties, properties);
             EXPECT_TRUE(as<ClientType>(d).version == Version());
         }},
        {"connector/v1/ClientTypeResponse",
         [&] { return std::make_unique<ClientTypeResponse>("u2", properties, oneFault()); },
         {"uuid", "properties", "messageFaults"},
         [&](const auto& d) {
             const auto& r = as<ClientTypeResponse>(d);
             EXPECT_EQ(r.uuid, "u2");
             EXPECT_EQ(r.properties, properties);
             ASSERT_EQ(r.faults.size(), 1u);
             EXPECT_EQ(r.faults[0].faultCode, "Code.One");
             EXPECT_EQ(r.faults[0].message, "first");
             EXPECT_TRUE(r.faults[0].faultConditions.empty());  // written, never read
         }},
        {"connector/v1/EnabledFeatures",
         [] {
             return std::make_unique<EnabledFeatures>(
                 "u3", std::vector<std::string>{"isGDSEnabled", "", "isGDSEnabled"});
         },
         {"uuid", "features"},
         [](const auto& d) {
             EXPECT_EQ(as<EnabledFeatures>(d).uuid, "u3");
             EXPECT_EQ(as<EnabledFeatures>(d).features,
                       (std::vector<std::string>{"isGDSEnabled", "", "isGDSEnabled"}));
         }},
        {"connector/v1/EnabledFeaturesResponse",
         [] {
             return std::make_unique<EnabledFeaturesResponse>(
                 "u4", FlagTable{{"isGDSEnabled", true}, {"isLoginRequired", false}},
                 u"4.2.0 \u00e9", std::vector<Fault>());
         },
         {"uuid", "features", "quorixVersion", "messageFaults"},
         [](const auto& d) {
             const auto& r = as<EnabledFeaturesResponse>(d);
             EXPECT_EQ(r.uuid, "u4");
             EXPECT_EQ(r.features, (FlagTable{{"isGDSEnabled", true}, {"isLoginRequired", false}}));
             EXPECT_EQ(r.quorixVersion, u"4.2.0 \u00e9");
             EXPECT_TRUE(r.faults.empty());
         }},
        {"connector/v1/ServiceRegistry",
         [] {
             return std::make_unique<ServiceRegistryRequest>("u5", StringTable{{"service", "s"}});
         },
         {"uuid", "properties"},
         [](const auto& d) {
             EXPECT_EQ(as<ServiceRegistryRequest>(d).uuid, "u5");
             EXPECT_EQ(as<ServiceRegistryRequest>(d).properties, (StringTable{{"service", "s"}}));
         }},
        {"connector/v1/ServiceRegistryResponse",
         [] {
             return std::make_unique<ServiceRegistryResponse>(
                 "u6", StringTable{{"service", "s"}, {"endpoint", ""}}, oneFault());
         },
         {"uuid", "properties", "messageFaults"},
         [](const auto& d) {
             const auto& r = as<ServiceRegistryResponse>(d);
             EXPECT_EQ(r.uuid, "u6");
             EXPECT_EQ(r.properties, (StringTable{{"service", "s"}, {"endpoint", ""}}));
             ASSERT_EQ(r.faults.size(), 1u);
             EXPECT_EQ(r.faults[0].faultCode, "Code.One");
         }},
        {"connector/v1/SetUserHomeDir",
         [&] {
             auto m = std::make_unique<SetUserHomeDir>(farHome);
             m->uuid = "not-carried";
             return m;
         },
         {"userHomeDir"},
         [&](const auto& d) {
             EXPECT_EQ(as<SetUserHomeDir>(d).userHomeDir, farHome);
             EXPECT_EQ(as<SetUserHomeDir>(d).uuid, "");
         }},
        {"connector/v1/SetUserHomeDirResponse",
         [] {
             auto m = std::make_unique<SetUserHomeDirResponse>();
             m->faults = oneFault();
             return m;
         },
         {},
         [](const auto& d) { EXPECT_TRUE(as<SetUserHomeDirResponse>(d).faults.empty()); }},
        {"connector/v1/GetUserHomeDir",
         [] { return std::make_unique<GetUserHomeDir>(); },
         {},
         [](const auto& d) { EXPECT_EQ(as<GetUserHomeDir>(d).uuid, ""); }},
        {"connector/v1/GetUserHomeDirResponse",
         [&] {
             auto m = std::make_unique<GetUserHomeDirResponse>(farHome);
             m->faults = oneFault();
             return m;
         },
         {"userHomeDir"},
         [&](const auto& d) {
             EXPECT_EQ(as<GetUserHomeDirResponse>(d).userHomeDir, farHome);
             EXPECT_TRUE(as<GetUserHomeDirResponse>(d).faults.empty());
         }},
        {"connector/v1/GetCurrentClientProperties",
         [] { return std::make_unique<GetCurrentClientProperties>(); },
         {},
         [](const auto& d) { (void)as<GetCurrentClientProperties>(d); }},
        {"connector/v1/GetCurrentClientPropertiesResponse",
         [&] { return std::make_unique<GetCurrentClientPropertiesResponse>(properties); },
         {"properties"},
         [&](const auto& d) {
             EXPECT_EQ(as<GetCurrentClientPropertiesResponse>(d).properties, properties);
         }},
    };

    auto serializer = std::make_shared<connector::json::JsonSerializer>();
    InformationJsonSerialization registration(serializer);
    for (const auto& row : cases) {
        SCOPED_TRACE(row.typeName);
        std::unique_ptr<Message> original = row.make();
        auto encoded = serializer->serialize(original);
        EXPECT_EQ(encoded.typeName, row.typeName);
        Object::Ptr parsed = parse(stringify(encoded.object));
        EXPECT_EQ(keysOf(parsed), row.wireKeys);
        auto decoded = serializer->deserialize(row.typeName, parsed);
        EXPECT_EQ(typeid(*decoded), typeid(*original));
        row.check(decoded);
    }
}

TEST(JsonCodecTest, FaultsAreWrittenInFullEvenWhenEmpty) {
    std::unique_ptr<Message> bare =
        std::make_unique<ClientTypeResponse>("u", StringTable{}, std::vector<Fault>());
    Object::Ptr json = parse(stringify(serializeClientTypeResponse(bare)));
    EXPECT_EQ(json->getArray("messageFaults")->size(), 0u);

    std::vector<Fault> faults;
    faults.emplace_back("C", "M", std::vector<FaultCondition>());
    faults.emplace_back("C2", "M2", std::vector<FaultCondition>{{"id", {u"a", u"\u00df"}}});
    std::unique_ptr<Message> full =
        std::make_unique<ServiceRegistryResponse>("u", StringTable{}, std::move(faults));
    json = parse(stringify(serializeServiceRegistryResponse(full)));
    auto list = json->getArray("messageFaults");
    ASSERT_EQ(list->size(), 2u);
    EXPECT_EQ(list->getObject(0)->getArray("faultConditions")->size(), 0u);
    auto condition = list->getObject(1)->getArray("faultConditions")->getObject(0);
    EXPECT_EQ(condition->getValue<std::string>("faultId"), "id");
    EXPECT_EQ(condition->getArray("faultInfo")->getElement<std::string>(1), "\xc3\x9f");
    EXPECT_EQ(list->getObject(1)->getValue<std::string>("faultCode"), "C2");
}

TEST(JsonCodecTest, ReadersAreLenientAboutAbsentNullAndMistypedValues) {
    auto empty = deserializeClientType(parse("{}"));
    EXPECT_EQ(as<ClientType>(empty).uuid, "notset");
    EXPECT_TRUE(as<ClientType>(empty).properties.empty());

    auto mixed = deserializeClientType(parse(
        R"({"uuid": 5, "properties": {"b": true, "n": null, "o": {"x": [1, 2]}, "d": 1.5}})"));
    EXPECT_EQ(as<ClientType>(mixed).uuid, "5");
    EXPECT_EQ(as<ClientType>(mixed).properties,
              (StringTable{{"b", "true"}, {"n", ""}, {"o", R"({"x":[1,2]})"}, {"d", "1.5"}}));
    EXPECT_TRUE(as<ServiceRegistryRequest>(
                    deserializeServiceRegistryRequest(parse(R"({"properties": [1]})")))
                    .properties.empty());

    auto features = deserializeEnabledFeatures(
        parse(R"({"uuid": null, "features": ["a", null, {"k": "v"}, [], 3, false]})"));
    EXPECT_EQ(as<EnabledFeatures>(features).uuid, "notset");
    EXPECT_EQ(as<EnabledFeatures>(features).features,
              (std::vector<std::string>{"a", "", R"({"k":"v"})", "[]", "3", "false"}));
    EXPECT_TRUE(as<EnabledFeatures>(deserializeEnabledFeatures(parse(R"({"features": {}})")))
                    .features.empty());

    auto flags = deserializeEnabledFeaturesResponse(parse(
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

    auto faulted = deserializeClientTypeResponse(parse(
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
    EXPECT_TRUE(as<ClientTypeResponse>(
                    deserializeClientTypeResponse(parse(R"({"messageFaults": {"a": 1}})")))
                    .faults.empty());
}

TEST(JsonCodecTest, EmptyObjectPointerIsRefusedOnlyWhereKeysAreRead) {
    using Deserializer = std::unique_ptr<Message> (*)(Object::Ptr);
    const Deserializer readingKeys[] = {deserializeClientType,
                                        deserializeClientTypeResponse,
                                        deserializeEnabledFeatures,
                                        deserializeEnabledFeaturesResponse,
                                        deserializeServiceRegistryRequest,
                                        deserializeServiceRegistryResponse,
                                        deserializeSetUserHomeDir,
                                        deserializeGetUserHomeDirResponse,
                                        deserializeGetCurrentClientPropertiesResponse};
    for (Deserializer deserialize : readingKeys)
        EXPECT_THROW((void)deserialize(Object::Ptr()), Poco::NullPointerException);
    EXPECT_NE(deserializeGetUserHomeDir(Object::Ptr()), nullptr);
    EXPECT_NE(deserializeSetUserHomeDirResponse(Object::Ptr()), nullptr);
    EXPECT_NE(deserializeGetCurrentClientProperties(Object::Ptr()), nullptr);
}

TEST(JsonCodecTest, HomeDirectoryTravelsAsUtf8AndInvalidTextIsAClearError) {
    std::unique_ptr<Message> response = std::make_unique<GetUserHomeDirResponse>(u"C:\\\U0001F600");
    Object::Ptr json = serializeGetUserHomeDirResponse(response);
    EXPECT_EQ(json->getValue<std::string>("userHomeDir"), "C:\\\xF0\x9F\x98\x80");

    auto decoded = deserializeSetUserHomeDir(parse(R"({"userHomeDir": "\ud834\udd1e/x"})"));
    const std::u16string expected{0xD834, 0xDD1E, u'/', u'x'};
    EXPECT_EQ(as<SetUserHomeDir>(decoded).userHomeDir, expected);

    Object::Ptr invalid = new Object(0);
    invalid->set("userHomeDir", std::string("ok\xC3("));
    try {
        (void)deserializeSetUserHomeDir(invalid);
        FAIL() << "invalid UTF-8 was accepted";
    } catch (const fl::i18n::conversion_error& error) {
        EXPECT_STREQ(error.what(), "Invalid UTF-8 text: bad byte sequence at byte 2 of 4");
    }
    std::unique_ptr<Message> loneSurrogate =
        std::make_unique<SetUserHomeDir>(std::u16string{u'a', 0xD800});
    EXPECT_THROW((void)serializeSetUserHomeDir(loneSurrogate), fl::i18n::conversion_error);
}

}  // namespace
