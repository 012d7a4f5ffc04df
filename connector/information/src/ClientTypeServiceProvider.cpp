// The client-type service: takes a batch's ClientType out, records the client, sends the rest on.
#include "connector/information/v1/ClientTypeServiceProvider.hpp"

#include <boost/optional.hpp>
#include <stdexcept>
#include <utility>

#include "ContextAccess.hpp"
#include "Loggers.hpp"
#include "connector/framework/Context.hpp"
#include "connector/information/v1/ClientType.hpp"
#include "connector/information/v1/ClientTypeResponse.hpp"

namespace connector::information::v1 {

using connector::container::v1::ContainerRequest;
using connector::container::v1::ContainerResponse;

namespace {

using Answer = ClientTypeServiceProvider::Answer;

const std::string ORIG_CLIENT_TYPE_PROPERTY = "ORIG_CLIENT_TYPE";

// What a client announced in a batch, answered once the rest of the batch has been answered.
struct Announcement {
    std::string uuid;
    StringTable properties;
};

void recordClient(connector::Context& context, const std::string& clientType,
                  const std::string& origType, StringTable& properties) {
    setContextValue<contextkeys::CLIENT_TYPE>(context, clientType);
    setContextValue<contextkeys::ORIG_CLIENT_TYPE>(context, origType);
    properties[ORIG_CLIENT_TYPE_PROPERTY] = origType;
    properties[ClientTypeServiceProvider::TYPE_KEY] = clientType;
}

// The client announces itself: the first message under "ClientType" is taken out of the batch
// and, if it is a ClientType, its client recorded; the whole entry then leaves the batch.
Announcement takeAnnouncement(connector::container::v1::MessageTable& table,
                              connector::container::v1::MessageTable::iterator announced,
                              connector::Context* context) {
    clientTypeServiceLogger.log(foundation::log::PROGRESS,
                                "Client type request received, checking type");
    std::unique_ptr<connector::Message> first = std::move(announced->second.front());
    Announcement announcement;
    if (auto* message = dynamic_cast<ClientType*>(first.get())) {
        announcement.uuid = message->uuid;
        const std::string origType = ClientTypeServiceProvider::getClientType(*message);
        auto endpoint = message->properties.find(ClientTypeServiceProvider::SERVICE_ENDPOINT_KEY);
        const std::string clientType = ClientTypeServiceProvider::getClientTypeWithSuffixes(
            origType, endpoint != message->properties.end() ? endpoint->second : std::string());
        // The message is destroyed below: its table is taken over here and moved on into the
        // response, so that the properties are never copied on their way.
        announcement.properties = std::move(message->properties);
        if (context) {
            if (!clientType.empty())
                recordClient(*context, clientType, origType, announcement.properties);
            setContextValue<contextkeys::CLIENT_PROPERTIES>(*context, announcement.properties);
        }
        clientTypeServiceLogger.log(foundation::log::PROGRESS, [&](std::ostream& out) {
            out << "Client type found: " << clientType;
        });
    }
    table.erase(announced);
    return announcement;
}

// A client recorded without its suffixes (a "clientType" but no "origClientType") gets them now,
// as a remote client.
void completeRecordedClient(connector::Context& context) {
    if (!hasContextValue<contextkeys::CLIENT_TYPE>(context) ||
        hasContextValue<contextkeys::ORIG_CLIENT_TYPE>(context))
        return;
    const std::string old = getContextValue<contextkeys::CLIENT_TYPE>(context);
    const std::string clientType =
        ClientTypeServiceProvider::getClientTypeWithSuffixes(old, std::string());
    if (clientType.empty()) return;
    StringTable properties;
    recordClient(context, clientType, old, properties);
    setContextValue<contextkeys::CLIENT_PROPERTIES>(context, std::move(properties));
}

// The rest of the batch goes on through the context; an empty batch is answered at once.
Answer sendOnward(std::unique_ptr<ContainerRequest>&& request, connector::Address&& address,
                  const std::shared_ptr<connector::Context>& context) {
    if (request->messages.empty()) {
        return connector::makeReadyFuture(
            std::unique_ptr<connector::Message>(std::make_unique<ContainerResponse>()));
    }
    if (!context) {
        return connector::makeErrorFuture<std::unique_ptr<connector::Message>>(
            std::runtime_error("No context to send the batch onward."));
    }
    return context->handle<connector::Message, ContainerRequest>(std::move(request),
                                                                 std::move(address));
}

// Waits for the onward answer and, if it is a container response, adds the client-type answer.
Answer withClientTypeResponse(Answer onward, Announcement&& announcement) {
    std::unique_ptr<connector::Message> result = onward.get();
    if (auto* response = dynamic_cast<ContainerResponse*>(result.get())) {
        auto clientTypeResponse = std::make_unique<ClientTypeResponse>(
            announcement.uuid, StringTable(), std::vector<connector::common::v1::Fault>());
        clientTypeResponse->properties = std::move(announcement.properties);  // see above
        response->messages[ClientTypeServiceProvider::CLIENT_TYPE_RESPONSE].push_back(
            std::move(clientTypeResponse));
    }
    return connector::makeReadyFuture(std::move(result));
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
    auto& table = request->messages;
    auto announced = table.find(CLIENT_TYPE);
    boost::optional<Announcement> announcement;
    if (announced != table.end() && !announced->second.empty())
        announcement = takeAnnouncement(table, announced, context.get());
    else if (context)
        completeRecordedClient(*context);

    Answer answer = sendOnward(std::move(request), std::move(address), context);
    if (!announcement) return answer;
    return withClientTypeResponse(std::move(answer), std::move(*announcement));
}

}  // namespace connector::information::v1
