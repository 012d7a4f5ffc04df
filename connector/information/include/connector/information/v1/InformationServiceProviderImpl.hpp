// InformationServiceProviderImpl: the information service. It answers EnabledFeatures,
// GetCurrentClientProperties, GetUserHomeDir, SetUserHomeDir and ServiceRegistry requests, each
// at once on the calling thread with an already completed future.
//
// Ownership: must be owned by a std::shared_ptr (delivery needs shared_from_this); shares the
// session manager and the engine with the framework; owns its UserManagerImpl.
// Errors: a failed host evaluation or a context "clientType" that is not text leaves `handle` as
// an exception; a registry request without "service" is answered with a "Request.Ignored" fault.
// Threads: handlers may run concurrently. The cached version text and the home directory are
// guarded so that no reader sees a half-written string; no lock is held across a host evaluation.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "connector/framework/HttpSessionManager.hpp"
#include "connector/information/v1/Export.hpp"
#include "connector/information/v1/InformationServiceProvider.hpp"
#include "connector/information/v1/UserManager.hpp"

namespace qvm {
class QVM;
}

namespace connector::information::v1 {

class CONNECTOR_INFORMATION_API InformationServiceProviderImpl : public InformationServiceProvider {
  public:
    InformationServiceProviderImpl(std::shared_ptr<connector::http::HttpSessionManager> sessions,
                                   std::shared_ptr<qvm::QVM> engine);
    ~InformationServiceProviderImpl() override;

    using Answer = connector::Future<std::unique_ptr<connector::Message>>;

    [[nodiscard]] Answer handle(std::unique_ptr<GetCurrentClientProperties>&& request,
                                connector::Address&& from,
                                std::shared_ptr<connector::Context>&& context) override;
    [[nodiscard]] Answer handle(std::unique_ptr<GetUserHomeDir>&& request,
                                connector::Address&& from,
                                std::shared_ptr<connector::Context>&& context) override;
    [[nodiscard]] Answer handle(std::unique_ptr<SetUserHomeDir>&& request,
                                connector::Address&& from,
                                std::shared_ptr<connector::Context>&& context) override;
    [[nodiscard]] Answer handle(std::unique_ptr<ServiceRegistryRequest>&& request,
                                connector::Address&& from,
                                std::shared_ptr<connector::Context>&& context) override;
    // handle(EnabledFeatures): decides every named flag (all ten when the list is empty, which
    // fills the request's list), in list order; unknown names are skipped, a repeated name keeps
    // its first result. Also evaluates the host version once, while it is empty.
    [[nodiscard]] Answer handle(std::unique_ptr<EnabledFeatures>&& request,
                                connector::Address&& from,
                                std::shared_ptr<connector::Context>&& context) override;

    // getClientTypeProperties: the "clientProperties" of the current context, else of the last
    // used session; an empty table when neither has a usable one.
    std::unordered_map<std::string, std::string> getClientTypeProperties() override;

    // The ten flag names, in the order an EnabledFeatures request without names is answered.
    const std::vector<std::string>& getFeatureNames() const noexcept { return featureNames; }

  private:
    using Check = bool (InformationServiceProviderImpl::*)(std::shared_ptr<connector::Context>&);
    // How a flag is decided: by a check of its own, by the client's locality (one decision per
    // request shared by every flag decided so), or always on.
    enum class Decision { OwnCheck, ClientLocality, AlwaysOn };
    struct Flag {
        const char* name;
        Decision decision;
        Check check;  // OwnCheck only
    };
    static const Flag FLAGS[10];
    // findFlag: the flag named `name`, or null for a name that is no flag of this service.
    static const Flag* findFlag(const std::string& name);
    std::u16string versionText();

    bool checkGDSEnabled(std::shared_ptr<connector::Context>& context);
    bool checkIsLoginRequired(std::shared_ptr<connector::Context>& context);
    bool checkIsQGGEnabled(std::shared_ptr<connector::Context>& context);
    bool checkIsVantrellCmdEnabled(std::shared_ptr<connector::Context>& context);
    bool isClientLocal(std::shared_ptr<connector::Context>& context);

    std::shared_ptr<connector::http::HttpSessionManager> sessionManager;
    std::shared_ptr<qvm::QVM> vm;
    std::vector<std::string> featureNames;
    std::u16string cachedVersion;
    std::shared_ptr<UserManager> userManager;
    std::mutex cachedVersionMutex;
};

}  // namespace connector::information::v1
