// InformationServiceProvider: the provider interface of the information service. Messages reach
// its handle overloads through deliver (see connector::ServiceProviderAPI); every handle returns
// a future of the response. An implementation must be owned by a std::shared_ptr.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>

#include "connector/framework/Address.hpp"
#include "connector/framework/Context.hpp"
#include "connector/framework/Future.hpp"
#include "connector/framework/ServiceProviderAPI.hpp"
#include "connector/information/v1/Export.hpp"

namespace connector::information::v1 {

class EnabledFeatures;
class GetCurrentClientProperties;
class GetUserHomeDir;
class ServiceRegistryRequest;
class SetUserHomeDir;

class CONNECTOR_INFORMATION_API InformationServiceProvider
    : public connector::ServiceProviderAPI<InformationServiceProvider> {
  public:
    ~InformationServiceProvider() override;

    [[nodiscard]] virtual connector::Future<std::unique_ptr<connector::Message>> handle(
        std::unique_ptr<GetCurrentClientProperties>&& request, connector::Address&& from,
        std::shared_ptr<connector::Context>&& context) = 0;
    [[nodiscard]] virtual connector::Future<std::unique_ptr<connector::Message>> handle(
        std::unique_ptr<GetUserHomeDir>&& request, connector::Address&& from,
        std::shared_ptr<connector::Context>&& context) = 0;
    [[nodiscard]] virtual connector::Future<std::unique_ptr<connector::Message>> handle(
        std::unique_ptr<SetUserHomeDir>&& request, connector::Address&& from,
        std::shared_ptr<connector::Context>&& context) = 0;
    [[nodiscard]] virtual connector::Future<std::unique_ptr<connector::Message>> handle(
        std::unique_ptr<ServiceRegistryRequest>&& request, connector::Address&& from,
        std::shared_ptr<connector::Context>&& context) = 0;
    [[nodiscard]] virtual connector::Future<std::unique_ptr<connector::Message>> handle(
        std::unique_ptr<EnabledFeatures>&& request, connector::Address&& from,
        std::shared_ptr<connector::Context>&& context) = 0;

    // getClientTypeProperties: the property table recorded for the client being served.
    virtual std::unordered_map<std::string, std::string> getClientTypeProperties() = 0;
};

}  // namespace connector::information::v1
