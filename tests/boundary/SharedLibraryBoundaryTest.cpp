// Links only the plug-in's shared library, as the host does: type identities, dynamic_cast and
// the serializer table must work across the library boundary.
#include <Poco/JSON/Parser.h>
#include <gtest/gtest.h>

#include "connector/framework/JsonSerializer.hpp"
#include "connector/information/v1/InformationJsonSerialization.hpp"
#include "connector/information/v1/InformationServiceProviderImpl.hpp"
#include "connector/information/v1/SetUserHomeDir.hpp"

namespace {

using namespace connector::information::v1;
using connector::Address;

// A provider class defined outside the library, receiving messages the library decoded.
class OutsideProvider final : public InformationServiceProviderImpl {
  public:
    OutsideProvider() : InformationServiceProviderImpl(nullptr, nullptr) { setRunning(true); }
};

TEST(SharedLibraryBoundaryTest, DecodedMessagesAreDeliveredAndEncodedByTheirDynamicClass) {
    auto serializer = std::make_shared<connector::json::JsonSerializer>();
    InformationJsonSerialization registration(serializer);
    auto provider = std::make_shared<OutsideProvider>();
    auto decode = [&](const std::string& typeName, const std::string& json) {
        return serializer->deserialize(
            typeName, Poco::JSON::Parser().parse(json).extract<Poco::JSON::Object::Ptr>());
    };

    auto request = decode("connector/v1/SetUserHomeDir", R"({"userHomeDir": "/home/q"})");
    ASSERT_NE(dynamic_cast<SetUserHomeDir*>(request.get()), nullptr);
    (void)provider->deliver(std::move(request), Address(), nullptr).get();
    auto answer =
        provider->deliver(decode("connector/v1/GetUserHomeDir", "{}"), Address(), nullptr).get();
    auto encoded = serializer->serialize(answer);
    EXPECT_EQ(encoded.typeName, "connector/v1/GetUserHomeDirResponse");
    EXPECT_EQ(encoded.object->getValue<std::string>("userHomeDir"), "/home/q");

    // A message of the library refused by a provider family it does not belong to.
    EXPECT_THROW(
        (void)provider->deliver(decode("connector/v1/ClientType", "{}"), Address(), nullptr).get(),
        std::invalid_argument);
}

}  // namespace
