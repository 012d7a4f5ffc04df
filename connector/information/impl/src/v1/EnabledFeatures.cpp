// Enabled features: the ten flag checks and the EnabledFeatures handler.
#include <boost/any.hpp>
#include <boost/optional.hpp>

#include "connector/information/v1/EnabledFeatures.hpp"
#include "connector/information/v1/EnabledFeaturesResponse.hpp"
#include "connector/information/v1/InformationServiceProviderImpl.hpp"
#include "connector/information/v1/QuorixProduct.hpp"
#include "v1/ContextKeys.hpp"
#include "v1/HostEvaluation.hpp"

namespace connector::information::v1 {

namespace {

// A boolean the framework wrote into the context; false when absent or of another type (an empty
// context pointer is a context without entries).
bool contextFlag(const std::shared_ptr<connector::Context>& context, const std::string& key) {
    if (!context || !context->has(key)) return false;
    boost::any value = context->get(key);
    const bool* flag = boost::any_cast<bool>(&value);
    return flag != nullptr && *flag;
}

}  // namespace

// The ten flags, in the order a request without names is answered, each beside its decision.
const InformationServiceProviderImpl::Flag InformationServiceProviderImpl::FLAGS[] = {
    {"isVantrellCmdEnabled", &InformationServiceProviderImpl::checkIsVantrellCmdEnabled},
    {"isGDSEnabled", &InformationServiceProviderImpl::checkGDSEnabled},
    {"isLoginRequired", &InformationServiceProviderImpl::checkIsLoginRequired},
    {"isQGGEnabled", &InformationServiceProviderImpl::checkIsQGGEnabled},
    {"isNativePublishEnabled", &InformationServiceProviderImpl::checkIsNativePublishEnabled},
    {"isUDCFeedbackEnabled", &InformationServiceProviderImpl::checkIsUDCFeedbackEnabled},
    {"isSetPathEnabled", &InformationServiceProviderImpl::checkIsSetPathEnabled},
    {"isNativeImportDataEnabled", &InformationServiceProviderImpl::checkIsNativeImportDataEnabled},
    {"isWebSocketEnabled", &InformationServiceProviderImpl::checkIsWebSocketEnabled},
    {"isWebSocketPKEnabled", &InformationServiceProviderImpl::checkIsWebSocketPKEnabled},
};

InformationServiceProviderImpl::Check InformationServiceProviderImpl::findCheck(
    const std::string& name) {
    for (const Flag& flag : FLAGS) {
        if (name == flag.name) return flag.check;
    }
    return nullptr;
}

InformationServiceProviderImpl::Answer InformationServiceProviderImpl::handle(
    std::unique_ptr<EnabledFeatures>&& request, connector::Address&&,
    std::shared_ptr<connector::Context>&& context) {
    // No names asks for every flag: the request's own list is filled in, as its owner may see.
    if (request->features.empty()) request->features = featureNames;
    const std::vector<std::string>& names = request->features;
    // The four locality flags share one decision, made on first use: one read of the context,
    // and one answer even if the client's type changes meanwhile.
    boost::optional<bool> local;
    auto decidedByLocality = [](Check check) {
        return check == &InformationServiceProviderImpl::checkIsNativePublishEnabled ||
               check == &InformationServiceProviderImpl::checkIsUDCFeedbackEnabled ||
               check == &InformationServiceProviderImpl::checkIsSetPathEnabled ||
               check == &InformationServiceProviderImpl::checkIsNativeImportDataEnabled;
    };
    FlagTable flags;
    flags.reserve(names.size());
    for (const std::string& name : names) {
        Check check = findCheck(name);
        if (check == nullptr) continue;  // not a flag of this service
        bool enabled;
        if (decidedByLocality(check)) {
            if (!local) local = isClientLocal(context);
            enabled = *local;
        } else {
            enabled = (this->*check)(context);
        }
        flags.emplace(name, enabled);  // a repeated name keeps its first result
    }
    auto response = std::make_unique<EnabledFeaturesResponse>(std::move(flags), std::u16string());
    response->quorixVersion = versionText();  // the cache's copy, moved in
    return connector::makeReadyFuture(std::unique_ptr<connector::Message>(std::move(response)));
}

std::u16string InformationServiceProviderImpl::versionText() {
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

bool InformationServiceProviderImpl::checkGDSEnabled(std::shared_ptr<connector::Context>& context) {
    return contextFlag(context, contextkeys::GDS_ENABLED);
}

bool InformationServiceProviderImpl::checkIsLoginRequired(
    std::shared_ptr<connector::Context>& context) {
    return contextFlag(context, contextkeys::LOGIN_REQUIRED);
}

bool InformationServiceProviderImpl::checkIsQGGEnabled(std::shared_ptr<connector::Context>&) {
    return fevalSync<std::string>(*this, vm, "qls.internal.feature", "graphicsAndGuis") == "on";
}

bool InformationServiceProviderImpl::checkIsVantrellCmdEnabled(
    std::shared_ptr<connector::Context>&) {
    if (fevalSync<std::vector<QuorixProduct>>(*this, vm, "ver", "vantrell").empty()) return false;
    return fevalSync<std::u16string>(*this, vm, "which", "vtr").find(u"built-in") !=
           std::u16string::npos;
}

bool InformationServiceProviderImpl::checkIsNativePublishEnabled(
    std::shared_ptr<connector::Context>& context) {
    return isClientLocal(context);
}

bool InformationServiceProviderImpl::checkIsUDCFeedbackEnabled(
    std::shared_ptr<connector::Context>& context) {
    return isClientLocal(context);
}

bool InformationServiceProviderImpl::checkIsSetPathEnabled(
    std::shared_ptr<connector::Context>& context) {
    return isClientLocal(context);
}

bool InformationServiceProviderImpl::checkIsNativeImportDataEnabled(
    std::shared_ptr<connector::Context>& context) {
    return isClientLocal(context);
}

bool InformationServiceProviderImpl::checkIsWebSocketEnabled(std::shared_ptr<connector::Context>&) {
    return true;
}

bool InformationServiceProviderImpl::checkIsWebSocketPKEnabled(
    std::shared_ptr<connector::Context>&) {
    return true;
}

}  // namespace connector::information::v1
