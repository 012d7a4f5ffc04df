#include "tools/connector-host/HostRuntime.hpp"

#include "host/qvm/QVM.hpp"

namespace connectorhost {

using namespace connector::information::v1;

const std::string HostRuntime::CONTAINER_REQUEST = "connector/v1/ContainerRequest";

HostRuntime::HostRuntime(std::shared_ptr<qvm::QVM> vm)
    : serializer(std::make_shared<connector::json::JsonSerializer>())
    , router(std::make_shared<connector::MessageRouter>(serializer))
    , sessions(std::make_shared<connector::http::HttpSessionManager>(router))
    , engine(std::move(vm))
    , information(std::make_shared<InformationServiceProviderImpl>(sessions, engine))
    , clientTypes(std::make_shared<ClientTypeServiceProvider>())
    , registration_(std::make_unique<InformationJsonSerialization>(serializer)) {
    for (const char* type :
         {"connector/v1/EnabledFeatures", "connector/v1/GetCurrentClientProperties",
          "connector/v1/GetUserHomeDir", "connector/v1/SetUserHomeDir",
          "connector/v1/ServiceRegistry"}) {
        router->addProvider(type, information);
    }
    router->addProvider(CONTAINER_REQUEST, clientTypes);
    information->setRunning(true);
    clientTypes->setRunning(true);
}

HostRuntime::~HostRuntime() {
    information->setRunning(false);
    clientTypes->setRunning(false);
}

}  // namespace connectorhost
