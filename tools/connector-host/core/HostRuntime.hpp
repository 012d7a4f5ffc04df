// connectorhost::HostRuntime: everything the framework sets up around the plug-in, in one
// object: the JSON serializer with the plug-in's registrations, the router, the session manager,
// the engine stand-in and both providers (running). Routes: every request type of the
// information service that the plug-in registers to InformationServiceProviderImpl,
// "connector/v1/ContainerRequest" to ClientTypeServiceProvider. Every answer the router gathers for
// a batch is charged, at its JSON size, against the AnswerBudget open on the routing thread.
//
// Threads: after construction every member may be used from any number of threads at once.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "connector/framework/HttpSessionManager.hpp"
#include "connector/framework/JsonSerializer.hpp"
#include "connector/framework/MessageRouter.hpp"
#include "connector/information/v1/ClientTypeServiceProvider.hpp"
#include "connector/information/v1/InformationJsonSerialization.hpp"
#include "connector/information/v1/InformationServiceProviderImpl.hpp"

namespace qvm {
class QVM;
}

namespace connectorhost {

class HostRuntime {
  public:
    explicit HostRuntime(std::shared_ptr<qvm::QVM> engine,
                         connector::http::SessionLimits sessionLimits = {});
    ~HostRuntime();

    // stop: the providers stop running and the engine takes no more evaluations, so that requests
    // still inside a service return promptly (with an error) instead of waiting for the engine.
    void stop();

    // containerRequestType / containerResponseType: "connector/v1/ContainerRequest" and
    // "connector/v1/ContainerResponse" (made on first use, so that no static initialisation
    // depends on the framework's).
    [[nodiscard]] static const std::string& containerRequestType();
    [[nodiscard]] static const std::string& containerResponseType();

    // messageTypes: the short names of the types a request may have, "unknown" first (for one
    // whose type is not known), then every routed type.
    [[nodiscard]] const std::vector<std::string>& messageTypes() const noexcept { return types; }
    // typeIndex: the index of `typeName` (a full type name) in messageTypes(), 0 if not known.
    [[nodiscard]] std::size_t typeIndex(const std::string& typeName) const;

    std::shared_ptr<connector::json::JsonSerializer> serializer;
    std::shared_ptr<connector::MessageRouter> router;
    std::shared_ptr<connector::http::HttpSessionManager> sessions;
    std::shared_ptr<qvm::QVM> engine;
    std::shared_ptr<connector::information::v1::InformationServiceProviderImpl> information;
    std::shared_ptr<connector::information::v1::ClientTypeServiceProvider> clientTypes;

  private:
    void addRoute(const std::string& typeName);

    std::unique_ptr<connector::information::v1::InformationJsonSerialization> registration;
    std::vector<std::string> types{"unknown"};
    std::unordered_map<std::string, std::size_t> typeIndices;
};

}  // namespace connectorhost
