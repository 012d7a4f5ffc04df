// Delivery of a message to its provider's handle (ServiceProviderAPI / MessageAPI): ownership,
// sender and context handed over; a stopped provider, a message of another provider family and
// a provider not owned by a std::shared_ptr refused; handler errors passed through.
#include <gtest/gtest.h>

#include "../support/ErrorText.hpp"

#include <memory>
#include <stdexcept>
#include <string>

#include "connector/framework/Context.hpp"
#include "connector/framework/ServiceMessage.hpp"
#include "connector/framework/ServiceProviderAPI.hpp"

namespace {

using connector::Address;
using connector::Context;
using connector::Future;
using connector::Message;

class EchoProvider;
class OtherProvider;

struct Ping : connector::MessageAPI<Ping, EchoProvider> {
    std::string text;
};
struct Pong : Message {
    std::string text;
};
struct Shout : connector::MessageAPI<Shout, EchoProvider> {};
struct Foreign : connector::MessageAPI<Foreign, OtherProvider> {};

class EchoProvider : public connector::ServiceProviderAPI<EchoProvider> {
  public:
    virtual Future<std::unique_ptr<Message>> handle(std::unique_ptr<Ping>&&, Address&&,
                                                    std::shared_ptr<Context>&&) = 0;
    virtual Future<std::unique_ptr<Message>> handle(std::unique_ptr<Shout>&&, Address&&,
                                                    std::shared_ptr<Context>&&) = 0;
};
class OtherProvider : public connector::ServiceProviderAPI<OtherProvider> {
  public:
    virtual Future<std::unique_ptr<Message>> handle(std::unique_ptr<Foreign>&&, Address&&,
                                                    std::shared_ptr<Context>&&) = 0;
};

class Echo : public EchoProvider {
  public:
    Future<std::unique_ptr<Message>> handle(std::unique_ptr<Ping>&& ping, Address&& from,
                                            std::shared_ptr<Context>&& context) override {
        received = ping.get();
        kept = std::move(ping);  // takes ownership
        sender = from.sender();
        receivedContext = context;
        auto pong = std::make_unique<Pong>();
        pong->text = kept->text;
        return connector::makeReadyFuture(std::unique_ptr<Message>(std::move(pong)));
    }
    Future<std::unique_ptr<Message>> handle(std::unique_ptr<Shout>&&, Address&&,
                                            std::shared_ptr<Context>&&) override {
        throw std::domain_error("shouting is not allowed");
    }

    Message* received = nullptr;
    std::unique_ptr<Ping> kept;
    std::string sender;
    std::shared_ptr<Context> receivedContext;
};

using testsupport::errorOf;

std::shared_ptr<Echo> runningEcho() {
    auto echo = std::make_shared<Echo>();
    echo->setRunning(true);
    return echo;
}

TEST(DeliveryTest, CorrectMessageReachesItsHandleWithOwnership) {
    auto echo = runningEcho();
    auto ping = std::make_unique<Ping>();
    ping->text = "hello";
    Message* sent = ping.get();
    auto context = std::make_shared<Context>();

    auto answer =
        echo->deliver(std::move(ping), Address("client-1"), std::shared_ptr(context)).get();
    EXPECT_EQ(echo->received, sent);
    EXPECT_EQ(echo->kept.get(), sent);
    EXPECT_EQ(echo->sender, "client-1");
    EXPECT_EQ(echo->receivedContext, context);
    auto* pong = dynamic_cast<Pong*>(answer.get());
    ASSERT_NE(pong, nullptr);
    EXPECT_EQ(pong->text, "hello");
}

TEST(DeliveryTest, StoppedProviderAndForeignMessagesAreAnsweredWithErrorFutures) {
    auto echo = std::make_shared<Echo>();
    std::unique_ptr<Message> ping = std::make_unique<Ping>();
    auto stopped = echo->deliver(std::move(ping), Address(), nullptr);
    EXPECT_NE(ping, nullptr);  // the message stays with the caller
    EXPECT_THROW((void)stopped.get(), std::runtime_error);
    EXPECT_EQ(errorOf(echo->deliver(std::make_unique<Foreign>(), Address(), nullptr)),
              "Service exists but is not running.");

    echo->setRunning(true);
    auto foreign = echo->deliver(std::make_unique<Foreign>(), Address(), nullptr);
    EXPECT_THROW((void)foreign.get(), std::invalid_argument);
    const std::string text =
        errorOf(echo->deliver(std::make_unique<Foreign>(), Address(), nullptr));
    EXPECT_EQ(text.rfind("Incorrect message type. Expected: connector::ServiceMessage<", 0), 0u)
        << text;
    EXPECT_NE(text.find("EchoProvider> but found "), std::string::npos) << text;
    EXPECT_NE(text.find("Foreign"), std::string::npos) << text;
    EXPECT_NE(errorOf(echo->deliver(nullptr, Address(), nullptr)).find("but found nullptr"),
              std::string::npos);
}

TEST(DeliveryTest, DeliverToRefusesAnotherObjectAndHandlerErrorsPassThrough) {
    auto echo = runningEcho();
    Ping target;
    std::unique_ptr<Message> other = std::make_unique<Shout>();
    const std::string text = errorOf(target.deliverTo(echo, std::move(other), Address(), nullptr));
    EXPECT_EQ(text.rfind("Unable to deliver to service. Incorrect message type. Expected: ", 0),
              0u);
    EXPECT_NE(text.find("Ping but found "), std::string::npos) << text;
    EXPECT_NE(text.find("Shout"), std::string::npos) << text;
    EXPECT_EQ(echo->received, nullptr);

    EXPECT_THROW((void)echo->deliver(std::make_unique<Shout>(), Address(), nullptr),
                 std::domain_error);
}

TEST(DeliveryTest, ProviderNotOwnedBySharedPtrCannotDeliver) {
    Echo unowned;
    unowned.setRunning(true);
    EXPECT_THROW((void)unowned.deliver(std::make_unique<Ping>(), Address(), nullptr),
                 std::bad_weak_ptr);
}

}  // namespace
