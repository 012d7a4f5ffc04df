// ClientTypeServiceProvider: the container service of the plug-in. From a batch's ClientType
// message it works out the client's full client type (base type, "_lcl" / "_rmt", "_tkv" /
// "_nkv"), records it and the client's properties in the client's context state, sends the rest
// of the batch onward through the context, waits for its answer and adds a ClientTypeResponse.
//
// Ownership: must be owned by a std::shared_ptr; keeps no state between calls.
// Errors: an onward error leaves handle as an exception; a context "clientType" that is not text
// raises boost::bad_any_cast. Threads: handle may run on any number of threads at once; it blocks
// its own thread while the onward batch is processed. The static operations are pure functions of
// their arguments and the environment variable QUORIX_CONNECTOR_HOSTING_ENVIRONMENT.
#pragma once

#include <memory>
#include <string>

#include "connector/framework/ContainerMessages.hpp"
#include "connector/framework/ContainerServiceProvider.hpp"
#include "connector/information/v1/Export.hpp"

namespace connector::information::v1 {

class ClientType;

class CONNECTOR_INFORMATION_API ClientTypeServiceProvider
    : public connector::container::v1::ContainerServiceProvider {
  public:
    ClientTypeServiceProvider();
    ~ClientTypeServiceProvider() override;

    using Answer = connector::Future<std::unique_ptr<connector::Message>>;

    // Always an error future: this service only serves requests.
    [[nodiscard]] Answer handle(
        std::unique_ptr<connector::container::v1::ContainerResponse>&& response,
        connector::Address&& address, std::shared_ptr<connector::Context>&& context) override;
    [[nodiscard]] Answer handle(
        std::unique_ptr<connector::container::v1::ContainerRequest>&& request,
        connector::Address&& address, std::shared_ptr<connector::Context>&& context) override;

    // getClientType: the value of "TYPE", else of "type", else "".
    static std::string getClientType(const ClientType& request);
    // getClientTypeWithSuffixes: the full client type; an empty type, or one with an underscore,
    // comes back unchanged. Local when the endpoint contains a loopback origin anywhere.
    static std::string getClientTypeWithSuffixes(std::string clientType,
                                                 const std::string& serviceEndpoint);
    // getClientHostingEnvironmentSuffix: "_tkv" when the variable equals "tkv" ignoring case,
    // else "_nkv"; read afresh on every call.
    static std::string getClientHostingEnvironmentSuffix();
    // isJsdClientType: "jsd" itself, or "jsd" followed by an underscore.
    static bool isJsdClientType(const std::string& clientType);

    // The fixed protocol strings. All are defined in one translation unit, with the operations
    // above, and initialised while the library loads, before any module that links against it
    // runs its own initialisation; no code of the library reads them during static
    // initialisation, so their order against other static objects never matters.
    static const std::string CLIENT_TYPE;
    static const std::string CLIENT_TYPE_RESPONSE;
    static const std::string CLIENT_TYPE_JSD;
    static const std::string CLIENT_TYPE_LOCAL_SUFFIX;
    static const std::string CLIENT_TYPE_REMOTE_SUFFIX;
    static const std::string TYPE_KEY;
    static const std::string LOWER_TYPE_KEY;
    static const std::string SERVICE_ENDPOINT_KEY;
    static const std::string CLIENT_HOSTING_ENV;
    static const std::string TKV_KEY;
    static const std::string NKV_KEY;
};

}  // namespace connector::information::v1
