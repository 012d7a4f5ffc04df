// connector::MessageRouter: the framework's delivery by type name. Each type name
// ("connector/v1/<Type>") is routed to one provider; a container batch sent onward through a
// Context is delivered message by message to the providers of their types, and the answers are
// gathered in a ContainerResponse under their short type names ("EnabledFeaturesResponse").
//
// Routes are added while setting up; routing may then run on any number of threads at once, and
// reads the routes without a lock or any write to memory another thread reads (each addRoute
// publishes a new table, kept until the router ends, with what a replaced route holds).
// Errors travel inside the returned futures: an unknown type gives std::invalid_argument
// "No service provider for message type <name>"; the first failing message of a batch fails the
// whole batch with its own error (later messages of the batch are not delivered). An answer check,
// when set, sees each answer before it is gathered, on the routing thread; whatever it throws
// fails the batch the same way (a host bounds what one batch may build up this way).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "connector/framework/BatchRouter.hpp"
#include "connector/framework/Context.hpp"
#include "connector/framework/JsonSerializer.hpp"
#include "connector/framework/Visibility.hpp"

namespace connector {

class CONNECTOR_FRAMEWORK_API MessageRouter : public BatchRouter {
  public:
    using DeliverFn = std::function<Future<std::unique_ptr<Message>>(
        std::unique_ptr<Message>&&, Address&&, std::shared_ptr<Context>&&)>;

    // serializer: whose registrations name the answers gathered from a batch.
    explicit MessageRouter(std::shared_ptr<json::JsonSerializer> serializer);
    ~MessageRouter() override;

    using AnswerCheck = std::function<void(const std::unique_ptr<Message>& answer)>;

    void addRoute(const std::string& typeName, DeliverFn deliver);
    // setAnswerCheck: called for every answer of a batch before it is gathered. Set it while
    // setting up, before routing starts.
    void setAnswerCheck(AnswerCheck check) { answerCheck = std::move(check); }

    // addProvider: routes `typeName` to provider->deliver.
    template <class P>
    void addProvider(const std::string& typeName, std::shared_ptr<P> provider) {
        addRoute(typeName, [provider](std::unique_ptr<Message>&& message, Address&& address,
                                      std::shared_ptr<Context>&& context) {
            return provider->deliver(std::move(message), std::move(address), std::move(context));
        });
    }

    bool hasRoute(const std::string& typeName) const;

    // route: delivers one message to the provider of `typeName`.
    [[nodiscard]] Future<std::unique_ptr<Message>> route(const std::string& typeName,
                                                         std::unique_ptr<Message>&& message,
                                                         Address&& address,
                                                         std::shared_ptr<Context> context) const;

    [[nodiscard]] Future<std::unique_ptr<Message>> routeBatch(
        std::unique_ptr<container::v1::ContainerRequest>&& batch, Address&& address,
        std::shared_ptr<Context> context) override;

    // The prefix every full type name starts with. Initialised while the framework's library
    // loads, before any module that links against it; the router itself reads it only when
    // routing.
    static const std::string TYPE_PREFIX;

  private:
    std::shared_ptr<json::JsonSerializer> names;
    AnswerCheck answerCheck;
    using Routes = std::unordered_map<std::string, DeliverFn>;
    // publish: makes `next` the table readers see; call with writeMutex held.
    void publish(std::unique_ptr<Routes> next);
    [[nodiscard]] const Routes& routes() const noexcept {
        return *current.load(std::memory_order_acquire);
    }

    std::mutex writeMutex;
    std::vector<std::unique_ptr<const Routes>> tables;  // every table published, the current last
    std::atomic<const Routes*> current;
};

}  // namespace connector
