// Links only the plug-in's shared library, as the host does: type identities, dynamic_cast and
// the serializer table must work across the library boundary, and delivery hands a message over
// to a provider defined outside the library, or refuses it naming the classes involved.
#include <Poco/JSON/Parser.h>
#include <gtest/gtest.h>

#include "../support/Outcomes.hpp"
#include "connector/framework/JsonSerializer.hpp"
#include "connector/information/v1/GetUserHomeDir.hpp"
#include "connector/information/v1/InformationJsonSerialization.hpp"
#include "connector/information/v1/InformationServiceProviderImpl.hpp"
#include "connector/information/v1/SetUserHomeDir.hpp"

namespace {

using namespace connector::information::v1;
using connector::Address;
using connector::Context;
using connector::Message;
using testsupport::errorOf;

// A provider class defined outside the library, receiving messages the library decoded; it
// writes down what reaches its GetUserHomeDir handler.
class OutsideProvider final : public InformationServiceProviderImpl {
  public:
    OutsideProvider() : InformationServiceProviderImpl(nullptr, nullptr) { setRunning(true); }
    using InformationServiceProviderImpl::handle;
    Answer handle(std::unique_ptr<GetUserHomeDir>&& request, Address&& from,
                  std::shared_ptr<Context>&& context) override {
        received = request.get();
        sender = from.sender();
        receivedContext = context;
        return InformationServiceProviderImpl::handle(std::move(request), std::move(from),
                                                      std::move(context));
    }
    const Message* received = nullptr;
    std::string sender;
    std::shared_ptr<Context> receivedContext;
};

// Messages the library decodes reach the outside provider's handle with their sender and
// context, and its answer is encoded by its dynamic class. A stopped provider, a message of
// another provider family or none, a message handed another object than itself and a provider
// not owned by a std::shared_ptr are refused, the first four in the future; a handler's own error
// passes through.
TEST(SharedLibraryBoundaryTest, DeliveryHandsDecodedMessagesOverOrRefusesThem) {
    auto serializer = std::make_shared<connector::json::JsonSerializer>();
    InformationJsonSerialization registration(serializer);
    auto provider = std::make_shared<OutsideProvider>();
    auto decode = [&](const std::string& typeName, const std::string& json) {
        return serializer->deserialize(
            typeName, Poco::JSON::Parser().parse(json).extract<Poco::JSON::Object::Ptr>());
    };
    auto deliver = [&](std::unique_ptr<Message> message) {
        return provider->deliver(std::move(message), Address(), nullptr);
    };

    auto request = decode("connector/v1/SetUserHomeDir", R"({"userHomeDir": "/home/q"})");
    ASSERT_NE(dynamic_cast<SetUserHomeDir*>(request.get()), nullptr);
    (void)deliver(std::move(request)).get();
    request = decode("connector/v1/GetUserHomeDir", "{}");
    const Message* sent = request.get();
    auto context = std::make_shared<Context>();
    auto answer =
        provider->deliver(std::move(request), Address("client-1"), std::shared_ptr(context)).get();
    EXPECT_EQ(provider->received, sent);
    EXPECT_EQ(provider->sender, "client-1");
    EXPECT_EQ(provider->receivedContext, context);
    auto encoded = serializer->serialize(answer);
    EXPECT_EQ(encoded.typeName, "connector/v1/GetUserHomeDirResponse");
    EXPECT_EQ(encoded.object->getValue<std::string>("userHomeDir"), "/home/q");

    provider->setRunning(false);
    request = decode("connector/v1/GetUserHomeDir", "{}");
    auto stopped = provider->deliver(std::move(request), Address(), nullptr);
    EXPECT_NE(request, nullptr);  // the message stays with the caller
    EXPECT_THROW((void)stopped.get(), std::runtime_error);
    EXPECT_EQ(errorOf(deliver(decode("connector/v1/ClientType", "{}"))),
              "Service exists but is not running.");
    provider->setRunning(true);
    EXPECT_THROW((void)deliver(decode("connector/v1/ClientType", "{}")).get(),
                 std::invalid_argument);
    const std::string expected =
        "Incorrect message type. Expected: connector::ServiceMessage<"
        "connector::information::v1::InformationServiceProvider> but found ";
    EXPECT_EQ(errorOf(deliver(decode("connector/v1/ClientType", "{}"))),
              expected + "connector::information::v1::ClientType");
    EXPECT_EQ(errorOf(deliver(nullptr)), expected + "nullptr");
    GetUserHomeDir target;
    EXPECT_EQ(errorOf(target.deliverTo(provider, decode("connector/v1/SetUserHomeDir", "{}"),
                                       Address(), nullptr)),
              "Unable to deliver to service. Incorrect message type. Expected: "
              "connector::information::v1::"
              "GetUserHomeDir but found connector::information::v1::SetUserHomeDir");
    EXPECT_EQ(provider->received, sent);
    // No engine to evaluate the version with: the handler raises.
    EXPECT_THROW((void)deliver(decode("connector/v1/EnabledFeatures", "{}")), std::runtime_error);
    OutsideProvider unowned;
    EXPECT_THROW((void)unowned.deliver(std::make_unique<GetUserHomeDir>(), Address(), nullptr),
                 std::bad_weak_ptr);
}

}  // namespace
