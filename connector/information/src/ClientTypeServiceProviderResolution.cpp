// The constants and static operations that turn a client's base type into its full client type.
#include <cstdlib>
#include <locale>

#include "connector/information/v1/ClientType.hpp"
#include "connector/information/v1/ClientTypeServiceProvider.hpp"

namespace connector::information::v1 {

const std::string ClientTypeServiceProvider::CLIENT_TYPE = "ClientType";
const std::string ClientTypeServiceProvider::CLIENT_TYPE_RESPONSE = "ClientTypeResponse";
const std::string ClientTypeServiceProvider::CLIENT_TYPE_JSD = "jsd";
const std::string ClientTypeServiceProvider::CLIENT_TYPE_LOCAL_SUFFIX = "_lcl";
const std::string ClientTypeServiceProvider::CLIENT_TYPE_REMOTE_SUFFIX = "_rmt";
const std::string ClientTypeServiceProvider::TYPE_KEY = "TYPE";
const std::string ClientTypeServiceProvider::LOWER_TYPE_KEY = "type";
const std::string ClientTypeServiceProvider::SERVICE_ENDPOINT_KEY = "SERVICE_ENDPOINT";
const std::string ClientTypeServiceProvider::CLIENT_HOSTING_ENV =
    "QUORIX_CONNECTOR_HOSTING_ENVIRONMENT";
const std::string ClientTypeServiceProvider::TKV_KEY = "_tkv";
const std::string ClientTypeServiceProvider::NKV_KEY = "_nkv";

namespace {

// The loopback origins, in the order they are tested: scheme, "://", host, nothing after.
const char* const LOOPBACK_ORIGINS[] = {
    "http://localhost",  "http://127.0.0.1",  "http://::1",  "http://0:0:0:0:0:ffff:7f00:1",
    "https://localhost", "https://127.0.0.1", "https://::1", "https://0:0:0:0:0:ffff:7f00:1",
};

bool equalsIgnoringCase(const std::string& text, const std::string& lowerCaseWord) {
    if (text.size() != lowerCaseWord.size()) return false;
    const std::locale locale;  // the process's global locale
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (std::toupper(text[i], locale) != std::toupper(lowerCaseWord[i], locale)) return false;
    }
    return true;
}

}  // namespace

std::string ClientTypeServiceProvider::getClientType(const ClientType& request) {
    auto upper = request.properties.find(TYPE_KEY);
    if (upper != request.properties.end()) return upper->second;
    auto lower = request.properties.find(LOWER_TYPE_KEY);
    if (lower != request.properties.end()) return lower->second;
    return std::string();
}

std::string ClientTypeServiceProvider::getClientTypeWithSuffixes(
    std::string clientType, const std::string& serviceEndpoint) {
    if (clientType.empty() || clientType.find('_') != std::string::npos) return clientType;
    bool local = false;
    for (const char* origin : LOOPBACK_ORIGINS) {
        if (serviceEndpoint.find(origin) != std::string::npos) {
            local = true;
            break;
        }
    }
    clientType += local ? CLIENT_TYPE_LOCAL_SUFFIX : CLIENT_TYPE_REMOTE_SUFFIX;
    clientType += getClientHostingEnvironmentSuffix();
    return clientType;
}

std::string ClientTypeServiceProvider::getClientHostingEnvironmentSuffix() {
    const char* value = std::getenv(CLIENT_HOSTING_ENV.c_str());
    if (value != nullptr && equalsIgnoringCase(value, "tkv")) return TKV_KEY;
    return NKV_KEY;
}

bool ClientTypeServiceProvider::isJsdClientType(const std::string& clientType) {
    const std::string& jsd = CLIENT_TYPE_JSD;
    if (clientType.compare(0, jsd.size(), jsd) != 0) return false;
    return clientType.size() == jsd.size() || clientType[jsd.size()] == '_';
}

}  // namespace connector::information::v1
