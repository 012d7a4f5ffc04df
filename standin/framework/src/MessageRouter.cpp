#include "connector/framework/MessageRouter.hpp"

#include <stdexcept>

#include "connector/framework/TypeName.hpp"

namespace connector {

const std::string MessageRouter::TYPE_PREFIX = "connector/v1/";

MessageRouter::MessageRouter(std::shared_ptr<json::JsonSerializer> serializer)
    : names(std::move(serializer)) {
    std::lock_guard<std::mutex> lock(writeMutex);
    publish(std::make_unique<Routes>());
}

MessageRouter::~MessageRouter() = default;

void MessageRouter::addRoute(const std::string& typeName, DeliverFn deliver) {
    std::lock_guard<std::mutex> lock(writeMutex);
    auto next = std::make_unique<Routes>(routes());
    next->insert_or_assign(typeName, std::move(deliver));
    publish(std::move(next));
}

void MessageRouter::publish(std::unique_ptr<Routes> next) {
    tables.push_back(std::move(next));
    current.store(tables.back().get(), std::memory_order_release);
}

bool MessageRouter::hasRoute(const std::string& typeName) const {
    return routes().count(typeName) != 0;
}

Future<std::unique_ptr<Message>> MessageRouter::route(const std::string& typeName,
                                                      std::unique_ptr<Message>&& message,
                                                      Address&& address,
                                                      std::shared_ptr<Context> context) const {
    const Routes& table = routes();
    auto found = table.find(typeName);
    if (found == table.end() || !found->second) {
        return makeErrorFuture<std::unique_ptr<Message>>(
            std::invalid_argument("No service provider for message type " + typeName));
    }
    return found->second(std::move(message), std::move(address), std::move(context));
}

Future<std::unique_ptr<Message>> MessageRouter::routeBatch(
    std::unique_ptr<container::v1::ContainerRequest>&& batch, Address&& address,
    std::shared_ptr<Context> context) {
    auto response = std::make_unique<container::v1::ContainerResponse>();
    try {
        if (!batch) throw std::invalid_argument("Cannot route an empty batch pointer.");
        for (auto& [shortName, messages] : batch->messages) {
            for (auto& message : messages) {
                Address copy(address);
                std::unique_ptr<Message> answer =
                    route(TYPE_PREFIX + shortName, std::move(message), std::move(copy), context)
                        .get();
                if (!answer) continue;
                if (answerCheck) answerCheck(answer);
                std::optional<std::string> answerName =
                    names ? names->typeNameOf(*answer) : std::nullopt;
                const Message& answered = *answer;
                std::string key = answerName ? *answerName : typeName(typeid(answered));
                if (key.compare(0, TYPE_PREFIX.size(), TYPE_PREFIX) == 0)
                    key.erase(0, TYPE_PREFIX.size());
                response->messages[key].push_back(std::move(answer));
            }
        }
    } catch (...) {
        return makeErrorFuture<std::unique_ptr<Message>>(std::current_exception());
    }
    return makeReadyFuture(std::unique_ptr<Message>(std::move(response)));
}

}  // namespace connector
