// The client-type service: takes a batch's ClientType out, records the client, sends the rest on.
#include "connector/information/v1/ClientTypeServiceProvider.hpp"

#include <boost/any.hpp>
#include <stdexcept>
#include <utility>

#include "connector/framework/Context.hpp"
#include "connector/information/v1/ClientType.hpp"
#include "connector/information/v1/ClientTypeResponse.hpp"
#include "v1/ContextKeys.hpp"
#include "v1/Loggers.hpp"

namespace connector::information::v1 {

using connector::container::v1::ContainerRequest;
using connector::container::v1::ContainerResponse;

namespace {

const std::string kOrigClientTypeProperty = "ORIG_CLIENT_TYPE";

void recordClient(connector::Context& context, const std::string& clientType,
                  const std::string& origType, StringTable& properties) {
    context.set(contextkeys::CLIENT_TYPE, clientType, contextkeys::WRITE_SCOPE);
    context.set(contextkeys::ORIG_CLIENT_TYPE, origType, contextkeys::WRITE_SCOPE);
    properties[kOrigClientTypeProperty] = origType;
    properties[ClientTypeServiceProvider::TYPE_KEY] = clientType;
}

}  // namespace

ClientTypeServiceProvider::ClientTypeServiceProvider() = default;
ClientTypeServiceProvider::~ClientTypeServiceProvider() = default;

ClientTypeServiceProvider::Answer ClientTypeServiceProvider::handle(
    std::unique_ptr<ContainerResponse>&&, connector::Address&&,
    std::shared_ptr<connector::Context>&&) {
    return connector::makeErrorFuture<std::unique_ptr<connector::Message>>(
        std::runtime_error("ClientTypeServiceProvider response handler not implemented."));
}

ClientTypeServiceProvider::Answer ClientTypeServiceProvider::handle(
    std::unique_ptr<ContainerRequest>&& request, connector::Address&& address,
    std::shared_ptr<connector::Context>&& context) {
    std::string uuid;
    StringTable responseProperties;
    bool seen = false;

    auto& table = request->messages;
    auto announced = table.find(CLIENT_TYPE);
    if (announced != table.end() && !announced->second.empty()) {
        // A: the client announces itself in this batch.
        clientTypeServiceLogger.log(foundation::log::kProgress,
                                    "Client type request received, checking type");
        std::unique_ptr<connector::Message> first = std::move(announced->second.front());
        seen = true;
        if (auto* message = dynamic_cast<ClientType*>(first.get())) {
            uuid = message->uuid;
            const std::string origType = getClientType(*message);
            auto endpoint = message->properties.find(SERVICE_ENDPOINT_KEY);
            const std::string clientType = getClientTypeWithSuffixes(
                origType, endpoint != message->properties.end() ? endpoint->second : std::string());
            // The message is ours and is destroyed below: its table is taken over, not copied.
            responseProperties = std::move(message->properties);
            if (context) {
                if (!clientType.empty())
                    recordClient(*context, clientType, origType, responseProperties);
                context->set(contextkeys::CLIENT_PROPERTIES, responseProperties,
                             contextkeys::WRITE_SCOPE);
            }
            clientTypeServiceLogger.log(foundation::log::kProgress, [&](std::ostream& out) {
                out << "Client type found: " << clientType;
            });
        }
        table.erase(announced);
    } else if (context && context->has(contextkeys::CLIENT_TYPE) &&
               !context->has(contextkeys::ORIG_CLIENT_TYPE)) {
        // B: a client recorded without its suffixes gets them now (as a remote client).
        const std::string old =
            boost::any_cast<std::string>(context->get(contextkeys::CLIENT_TYPE));
        const std::string clientType = getClientTypeWithSuffixes(old, std::string());
        if (!clientType.empty()) {
            recordClient(*context, clientType, old, responseProperties);
            context->set(contextkeys::CLIENT_PROPERTIES, responseProperties,
                         contextkeys::WRITE_SCOPE);
        }
    }

    // C: the rest of the batch goes on; the client-type answer joins what comes back.
    Answer answer = [&]() -> Answer {
        if (table.empty()) {
            return connector::makeReadyFuture(
                std::unique_ptr<connector::Message>(std::make_unique<ContainerResponse>()));
        }
        if (!context) {
            return connector::makeErrorFuture<std::unique_ptr<connector::Message>>(
                std::runtime_error("No context to send the batch onward."));
        }
        return context->handle<connector::Message, ContainerRequest>(std::move(request),
                                                                     std::move(address));
    }();
    if (!seen) return answer;

    std::unique_ptr<connector::Message> result = answer.get();
    if (auto* response = dynamic_cast<ContainerResponse*>(result.get())) {
        auto clientTypeResponse = std::make_unique<ClientTypeResponse>(
            uuid, StringTable(), std::vector<connector::common::v1::Fault>());
        clientTypeResponse->properties = std::move(responseProperties);  // last use: moved in
        response->messages[CLIENT_TYPE_RESPONSE].push_back(std::move(clientTypeResponse));
    }
    return connector::makeReadyFuture(std::move(result));
}

}  // namespace connector::information::v1
