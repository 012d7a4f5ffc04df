// Enabled features: the ten flag checks and the EnabledFeatures handler.
#include <boost/optional.hpp>

#include "ContextAccess.hpp"
#include "HostEvaluation.hpp"
#include "connector/information/v1/EnabledFeatures.hpp"
#include "connector/information/v1/EnabledFeaturesResponse.hpp"
#include "connector/information/v1/InformationServiceProviderImpl.hpp"
#include "connector/information/v1/QuorixProduct.hpp"

namespace connector::information::v1 {

namespace {

// A boolean the framework wrote into the context; false when absent or of another type (an empty
// context pointer is a context without entries).
template <const auto& Key>
bool contextFlag(const std::shared_ptr<connector::Context>& context) {
    return context && findContextValue<Key>(*context).value_or(false);
}

using Impl = InformationServiceProviderImpl;

}  // namespace

// The ten flags, in the order a request without names is answered, each with how it is decided.
const Impl::Flag Impl::FLAGS[] = {
    {"isVantrellCmdEnabled", Decision::OwnCheck, &Impl::checkIsVantrellCmdEnabled},
    {"isGDSEnabled", Decision::OwnCheck, &Impl::checkGDSEnabled},
    {"isLoginRequired", Decision::OwnCheck, &Impl::checkIsLoginRequired},
    {"isQGGEnabled", Decision::OwnCheck, &Impl::checkIsQGGEnabled},
    {"isNativePublishEnabled", Decision::ClientLocality, nullptr},
    {"isUDCFeedbackEnabled", Decision::ClientLocality, nullptr},
    {"isSetPathEnabled", Decision::ClientLocality, nullptr},
    {"isNativeImportDataEnabled", Decision::ClientLocality, nullptr},
    {"isWebSocketEnabled", Decision::AlwaysOn, nullptr},
    {"isWebSocketPKEnabled", Decision::AlwaysOn, nullptr},
};

const Impl::Flag* Impl::findFlag(const std::string& name) {
    for (const Flag& flag : FLAGS) {
        if (name == flag.name) return &flag;
    }
    return nullptr;
}

Impl::Answer Impl::handle(std::unique_ptr<EnabledFeatures>&& request, connector::Address&&,
                          std::shared_ptr<connector::Context>&& context) {
    // No names asks for every flag: the request's own list is filled in, as its owner may see.
    if (request->features.empty()) request->features = featureNames;
    const std::vector<std::string>& names = request->features;
    // The locality flags share one decision, made on first use: one read of the context, and one
    // answer even if the client's type changes meanwhile.
    boost::optional<bool> local;
    FlagTable flags;
    flags.reserve(names.size());
    for (const std::string& name : names) {
        const Flag* flag = findFlag(name);
        if (flag == nullptr) continue;  // not a flag of this service
        bool enabled = false;
        switch (flag->decision) {
            case Decision::OwnCheck:
                enabled = (this->*(flag->check))(context);
                break;
            case Decision::ClientLocality:
                if (!local) local = isClientLocal(context);
                enabled = *local;
                break;
            case Decision::AlwaysOn:
                enabled = true;
                break;
        }
        flags.emplace(name, enabled);  // a repeated name keeps its first result
    }
    auto response = std::make_unique<EnabledFeaturesResponse>(std::move(flags), std::u16string());
    // Assigned rather than passed to the constructor, which would copy the text.
    response->quorixVersion = versionText();
    return connector::makeReadyFuture(std::unique_ptr<connector::Message>(std::move(response)));
}

std::u16string Impl::versionText() {
    {
        std::lock_guard<std::mutex> lock(cachedVersionMutex);
        if (!cachedVersion.empty()) return cachedVersion;
    }
    // Evaluated without the lock: concurrent first requests may each ask the host once.
    std::u16string version = fevalSync<std::u16string>(*this, vm, "version");
    std::lock_guard<std::mutex> lock(cachedVersionMutex);
    if (cachedVersion.empty()) cachedVersion = std::move(version);
    return cachedVersion;
}

bool Impl::checkGDSEnabled(std::shared_ptr<connector::Context>& context) {
    return contextFlag<contextkeys::GDS_ENABLED>(context);
}

bool Impl::checkIsLoginRequired(std::shared_ptr<connector::Context>& context) {
    return contextFlag<contextkeys::LOGIN_REQUIRED>(context);
}

bool Impl::checkIsQGGEnabled(std::shared_ptr<connector::Context>&) {
    return fevalSync<std::string>(*this, vm, "qls.internal.feature", "graphicsAndGuis") == "on";
}

bool Impl::checkIsVantrellCmdEnabled(std::shared_ptr<connector::Context>&) {
    if (fevalSync<std::vector<QuorixProduct>>(*this, vm, "ver", "vantrell").empty()) return false;
    return fevalSync<std::u16string>(*this, vm, "which", "vtr").find(u"built-in") !=
           std::u16string::npos;
}

}  // namespace connector::information::v1
