// Links only the plug-in's shared library, as the host does: type identities, dynamic_cast and
// the serializer table must work across the library boundary.
#include <Poco/JSON/Parser.h>
#include <gtest/gtest.h>

#include "connector/framework/JsonSerializer.hpp"
#include "connector/framework/ServiceProviderAPI.hpp"
#include "connector/information/v1/EnabledFeatures.hpp"
#include "connector/information/v1/GetCurrentClientProperties.hpp"
#include "connector/information/v1/GetUserHomeDir.hpp"
#include "connector/information/v1/GetUserHomeDirResponse.hpp"
#include "connector/information/v1/InformationJsonSerialization.hpp"
#include "connector/information/v1/ServiceRegistryRequest.hpp"
#include "connector/information/v1/SetUserHomeDir.hpp"

namespace {

using namespace connector::information::v1;
using connector::Address;
using connector::Context;
using connector::Future;
using connector::Message;

// A provider defined outside the library, receiving messages the library decoded.
class HomeDirProvider : public InformationServiceProvider {
  public:
    using Answer = Future<std::unique_ptr<Message>>;
    Answer handle(std::unique_ptr<GetCurrentClientProperties>&&, Address&&,
                  std::shared_ptr<Context>&&) override {
        return refuse();
    }
    Answer handle(std::unique_ptr<GetUserHomeDir>&&, Address&&,
                  std::shared_ptr<Context>&&) override {
        return connector::makeReadyFuture(
            std::unique_ptr<Message>(std::make_unique<GetUserHomeDirResponse>(home)));
    }
    Answer handle(std::unique_ptr<SetUserHomeDir>&& request, Address&&,
                  std::shared_ptr<Context>&&) override {
        home = request->userHomeDir;
        return connector::makeReadyFuture(
            std::unique_ptr<Message>(std::make_unique<GetUserHomeDirResponse>(home)));
    }
    Answer handle(std::unique_ptr<ServiceRegistryRequest>&&, Address&&,
                  std::shared_ptr<Context>&&) override {
        return refuse();
    }
    Answer handle(std::unique_ptr<EnabledFeatures>&&, Address&&,
                  std::shared_ptr<Context>&&) override {
        return refuse();
    }
    std::unordered_map<std::string, std::string> getClientTypeProperties() override { return {}; }

    std::u16string home;

  private:
    static Answer refuse() {
        return connector::makeErrorFuture<std::unique_ptr<Message>>(std::runtime_error("unused"));
    }
};

TEST(SharedLibraryBoundaryTest, DecodedMessagesAreDeliveredAndEncodedByTheirDynamicClass) {
    auto serializer = std::make_shared<connector::json::JsonSerializer>();
    InformationJsonSerialization registration(serializer);
    auto provider = std::make_shared<HomeDirProvider>();
    provider->setRunning(true);

    auto request = serializer->deserialize("connector/v1/SetUserHomeDir",
                                           Poco::JSON::Parser()
                                               .parse(R"({"userHomeDir": "/home/q"})")
                                               .extract<Poco::JSON::Object::Ptr>());
    ASSERT_NE(dynamic_cast<SetUserHomeDir*>(request.get()), nullptr);
    auto answer = provider->deliver(std::move(request), Address(), nullptr).get();
    EXPECT_EQ(provider->home, u"/home/q");

    auto encoded = serializer->serialize(answer);
    EXPECT_EQ(encoded.typeName, "connector/v1/GetUserHomeDirResponse");
    EXPECT_EQ(encoded.object->getValue<std::string>("userHomeDir"), "/home/q");

    // A message of the library refused by a provider family it does not belong to.
    auto foreign = serializer->deserialize("connector/v1/ClientType", new Poco::JSON::Object(0));
    EXPECT_THROW((void)provider->deliver(std::move(foreign), Address(), nullptr).get(),
                 std::invalid_argument);
}

}  // namespace
