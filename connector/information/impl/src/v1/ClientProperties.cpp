// Client properties and locality: what the client-type service recorded in a client's context.
#include <boost/any.hpp>
#include <boost/throw_exception.hpp>
#include <utility>

#include "connector/framework/CurrentContextState.hpp"
#include "connector/information/v1/GetCurrentClientProperties.hpp"
#include "connector/information/v1/GetCurrentClientPropertiesResponse.hpp"
#include "connector/information/v1/InformationServiceProviderImpl.hpp"
#include "v1/ContextKeys.hpp"
#include "v1/Loggers.hpp"

namespace connector::information::v1 {

std::unordered_map<std::string, std::string>
InformationServiceProviderImpl::getClientTypeProperties() {
    if (sessionManager) {
        std::shared_ptr<connector::common::ContextState> state =
            connector::qvm_common::getCurrentContextState();
        if (!state || !state->has(contextkeys::CLIENT_PROPERTIES)) {
            informationServiceLogger.log(foundation::log::kProgress,
                                         "Checking for last used session");
            state = sessionManager->lastUsedSessionState();
        } else {
            informationServiceLogger.log(foundation::log::kProgress,
                                         "Checking qvm_common current context");
        }
        if (state && state->has(contextkeys::CLIENT_PROPERTIES)) {
            try {
                // get gives a copy already: the table is moved out of it, not copied again.
                boost::any stored = state->get(contextkeys::CLIENT_PROPERTIES);
                if (auto* table = boost::any_cast<StringTable>(&stored)) return std::move(*table);
            } catch (...) {
                // An unreadable entry is answered like a missing one.
            }
        }
    }
    informationServiceLogger.log(foundation::log::kNotice,
                                 "No client properties found in session, returning empty map.");
    return {};
}

bool InformationServiceProviderImpl::isClientLocal(std::shared_ptr<connector::Context>& context) {
    if (!context || !context->has(contextkeys::CLIENT_TYPE)) return false;
    const boost::any value = context->get(contextkeys::CLIENT_TYPE);
    const std::string* clientType = boost::any_cast<std::string>(&value);
    if (clientType == nullptr) boost::throw_exception(boost::bad_any_cast());
    return clientType->find("lcl") != std::string::npos;
}

InformationServiceProviderImpl::Answer InformationServiceProviderImpl::handle(
    std::unique_ptr<GetCurrentClientProperties>&&, connector::Address&&,
    std::shared_ptr<connector::Context>&&) {
    // The fresh table becomes the response's (moved in, not copied a second time).
    auto response = std::make_unique<GetCurrentClientPropertiesResponse>(StringTable());
    response->properties = getClientTypeProperties();
    return connector::makeReadyFuture(std::unique_ptr<connector::Message>(std::move(response)));
}

}  // namespace connector::information::v1
