// Construction of the information service, and its home-directory and service-registry handlers.
#include "connector/information/v1/InformationServiceProviderImpl.hpp"

#include <iterator>

#include "connector/information/v1/GetUserHomeDir.hpp"
#include "connector/information/v1/GetUserHomeDirResponse.hpp"
#include "connector/information/v1/ServiceRegistryRequest.hpp"
#include "connector/information/v1/ServiceRegistryResponse.hpp"
#include "connector/information/v1/SetUserHomeDir.hpp"
#include "connector/information/v1/SetUserHomeDirResponse.hpp"
#include "connector/information/v1/UserManagerImpl.hpp"

namespace connector::information::v1 {

using connector::common::v1::Fault;
using connector::common::v1::FaultCondition;

namespace {
template <class Response, class... Args>
InformationServiceProviderImpl::Answer answer(Args&&... args) {
    return connector::makeReadyFuture(std::unique_ptr<connector::Message>(
        std::make_unique<Response>(std::forward<Args>(args)...)));
}
}  // namespace

InformationServiceProviderImpl::InformationServiceProviderImpl(
    std::shared_ptr<connector::http::HttpSessionManager> sessions, std::shared_ptr<qvm::QVM> engine)
    : sessionManager(std::move(sessions)), vm(std::move(engine)) {
    featureNames.reserve(std::size(FLAGS));
    for (const Flag& flag : FLAGS) featureNames.push_back(flag.name);
    userManager = std::make_shared<UserManagerImpl>();
}

InformationServiceProviderImpl::~InformationServiceProviderImpl() = default;

InformationServiceProviderImpl::Answer InformationServiceProviderImpl::handle(
    std::unique_ptr<SetUserHomeDir>&& request, connector::Address&&,
    std::shared_ptr<connector::Context>&&) {
    userManager->setUserHomeDir(request->userHomeDir);
    return answer<SetUserHomeDirResponse>();
}

InformationServiceProviderImpl::Answer InformationServiceProviderImpl::handle(
    std::unique_ptr<GetUserHomeDir>&&, connector::Address&&,
    std::shared_ptr<connector::Context>&&) {
    // Assigned rather than passed to the constructor, which would copy the text.
    auto response = std::make_unique<GetUserHomeDirResponse>(std::u16string());
    response->userHomeDir = userManager->getUserHomeDir();
    return connector::makeReadyFuture(std::unique_ptr<connector::Message>(std::move(response)));
}

InformationServiceProviderImpl::Answer InformationServiceProviderImpl::handle(
    std::unique_ptr<ServiceRegistryRequest>&& request, connector::Address&&,
    std::shared_ptr<connector::Context>&&) {
    auto service = request->properties.find("service");
    if (service == request->properties.end()) {
        std::vector<Fault> faults;
        faults.emplace_back("Request.Ignored",
                            "No valid identifiers in service registry request properties",
                            std::vector<FaultCondition>());
        return answer<ServiceRegistryResponse>(std::move(faults));
    }
    // The table is filled in place in the response rather than built beside it and copied.
    auto response = std::make_unique<ServiceRegistryResponse>(StringTable());
    response->properties["service"] = service->second;
    response->properties["endpoint"] = "";
    return connector::makeReadyFuture(std::unique_ptr<connector::Message>(std::move(response)));
}

}  // namespace connector::information::v1
