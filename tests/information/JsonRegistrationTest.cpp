// InformationJsonSerialization: which twelve types it registers, in which order, what copies and
// assignment do, what a failing registration leaves behind, and that ending it withdraws them.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <typeindex>
#include <vector>

#include "connector/framework/JsonSerializer.hpp"
#include "connector/information/v1/InformationJsonSerialization.hpp"
#include "connector/information/v1/ServiceRegistryRequest.hpp"

namespace {

using connector::information::v1::InformationJsonSerialization;
using connector::information::v1::ServiceRegistryRequest;

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

TEST(JsonRegistrationTest, RegistersTwelveInOrderAndWithdrawsThemInTheSameOrder) {
    auto recorder = std::make_shared<RecordingSerializer>();
    {
        InformationJsonSerialization registration(recorder);
        const std::vector<std::string> expected = {
            "connector/v1/ClientType",
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
        EXPECT_EQ(recorder->registered, expected);
        EXPECT_EQ(recorder->registeredTypes[4], std::type_index(typeid(ServiceRegistryRequest)));
        EXPECT_TRUE(recorder->withdrawn.empty());
    }
    EXPECT_EQ(recorder->withdrawn, recorder->registeredTypes);
}

// With the framework's own serializer: once the registration ends, its types can no longer be
// encoded or decoded.
TEST(JsonRegistrationTest, TheFrameworkSerializerForgetsTheTypesWhenTheRegistrationEnds) {
    auto serializer = std::make_shared<connector::json::JsonSerializer>();
    std::unique_ptr<connector::Message> request =
        std::make_unique<ServiceRegistryRequest>("u", connector::information::v1::StringTable());
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

TEST(JsonRegistrationTest, CopiesRegisterNothingAndEachDestructionWithdrawsAll) {
    auto recorder = std::make_shared<RecordingSerializer>();
    InformationJsonSerialization original(recorder);
    {
        InformationJsonSerialization copy(original);
        auto other = std::make_shared<RecordingSerializer>();
        InformationJsonSerialization assigned(other);
        assigned = original;
        EXPECT_EQ(recorder->registered.size(), 12u);
        EXPECT_EQ(other->registered.size(), 12u);
        EXPECT_TRUE(other->withdrawn.empty());  // assignment withdraws nothing
        EXPECT_EQ(recorder.use_count(), 4);     // shared by the test and three instances
    }
    // Both the copy and the assigned instance withdrew everything while `original` lives.
    EXPECT_EQ(recorder->withdrawn.size(), 24u);
    EXPECT_EQ(recorder->registered.size(), 12u);
}

TEST(JsonRegistrationTest, FailingRegistrationLeavesTheEarlierRowsInPlace) {
    auto recorder = std::make_shared<RecordingSerializer>();
    recorder->failAt = 2;
    EXPECT_THROW(InformationJsonSerialization registration(recorder), std::runtime_error);
    EXPECT_EQ(recorder->registered.size(), 2u);
    EXPECT_TRUE(recorder->withdrawn.empty());
    EXPECT_EQ(recorder.use_count(), 1);
}

}  // namespace
