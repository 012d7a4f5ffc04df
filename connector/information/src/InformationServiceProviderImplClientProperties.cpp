// Client properties and locality: what the client-type service recorded in a client's context.
#include <utility>

#include "ContextAccess.hpp"
#include "Loggers.hpp"
#include "connector/framework/CurrentContextState.hpp"
#include "connector/information/v1/GetCurrentClientProperties.hpp"
#include "connector/information/v1/GetCurrentClientPropertiesResponse.hpp"
#include "connector/information/v1/InformationServiceProviderImpl.hpp"

namespace connector::information::v1 {

std::unordered_map<std::string, std::string>
InformationServiceProviderImpl::getClientTypeProperties() {
    if (sessionManager) {
        std::shared_ptr<connector::common::ContextState> state =
            connector::qvm_common::getCurrentContextState();
        if (!state || !hasContextValue<contextkeys::CLIENT_PROPERTIES>(*state)) {
            informationServiceLogger.log(foundation::log::PROGRESS,
                                         "Checking for last used session");
            state = sessionManager->lastUsedSessionState();
        } else {
            informationServiceLogger.log(foundation::log::PROGRESS,
                                         "Checking qvm_common current context");
        }
        if (state) {
            try {
                auto table = findContextValue<contextkeys::CLIENT_PROPERTIES>(*state);
                if (table) return std::move(*table);
            } catch (...) {
                // An unreadable entry is answered like a missing one.
            }
        }
    }
    informationServiceLogger.log(foundation::log::NOTICE,
                                 "No client properties found in session, returning empty map.");
    return {};
}

bool InformationServiceProviderImpl::isClientLocal(std::shared_ptr<connector::Context>& context) {
    if (!context || !hasContextValue<contextkeys::CLIENT_TYPE>(*context)) return false;
    return getContextValue<contextkeys::CLIENT_TYPE>(*context).find("lcl") != std::string::npos;
}

InformationServiceProviderImpl::Answer InformationServiceProviderImpl::handle(
    std::unique_ptr<GetCurrentClientProperties>&&, connector::Address&&,
    std::shared_ptr<connector::Context>&&) {
    // Assigned rather than passed to the constructor, which would copy the table.
    auto response = std::make_unique<GetCurrentClientPropertiesResponse>(StringTable());
    response->properties = getClientTypeProperties();
    return connector::makeReadyFuture(std::unique_ptr<connector::Message>(std::move(response)));
}

}  // namespace connector::information::v1
