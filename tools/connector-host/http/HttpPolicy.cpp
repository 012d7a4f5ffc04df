#include "tools/connector-host/http/HttpPolicy.hpp"

#include <algorithm>
#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/trim.hpp>

namespace connectorhost {
namespace {

Verdict answeredWith(Verdict::Action action) {
    Verdict verdict;
    verdict.action = action;
    return verdict;
}

Verdict refuse(ErrorKind kind, std::string message, const char* allow = nullptr) {
    return Verdict{Verdict::Action::Refuse, kind, std::move(message), allow};
}

bool isLocalHost(const std::string& host, std::uint16_t port) {
    const std::string suffix = ":" + std::to_string(port);
    if (!boost::algorithm::ends_with(host, suffix)) return false;
    const std::string name = host.substr(0, host.size() - suffix.size());
    return name == "127.0.0.1" || boost::algorithm::iequals(name, "localhost");
}

// Compares in time that depends on the lengths only, so the token cannot be guessed byte by byte.
bool sameSecret(const std::string& given, const std::string& expected) {
    if (given.size() != expected.size()) return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < given.size(); ++i)
        difference |= static_cast<unsigned char>(given[i] ^ expected[i]);
    return difference == 0;
}

bool hasToken(const std::optional<std::string>& authorization, const std::string& token) {
    static const std::string scheme = "Bearer ";
    if (!authorization || authorization->size() < scheme.size()) return false;
    if (!boost::algorithm::iequals(authorization->substr(0, scheme.size()), scheme)) return false;
    return sameSecret(boost::algorithm::trim_copy(authorization->substr(scheme.size())), token);
}

// The origin of the host's own page: what a browser sends for a page loaded from this port.
bool isOwnOrigin(const std::string& origin, std::uint16_t port) {
    const std::string suffix = ":" + std::to_string(port);
    return origin == "http://127.0.0.1" + suffix || origin == "http://localhost" + suffix;
}

bool isPage(std::string_view path) {
    return path == "/" || path == "/index.html";
}

bool isRead(const std::string& method) {
    return method == "GET" || method == "HEAD";
}

bool isJson(const std::optional<std::string>& contentType) {
    if (!contentType) return false;
    const std::string media =
        boost::algorithm::trim_copy(contentType->substr(0, contentType->find(';')));
    return boost::algorithm::iequals(media, "application/json");
}

}  // namespace

std::string_view pathOf(std::string_view target) {
    return target.substr(0, target.find('?'));
}

bool isAllowedOrigin(const std::string& origin, const HttpPolicy& policy) {
    return isOwnOrigin(origin, policy.port) ||
           std::find(policy.allowedOrigins.begin(), policy.allowedOrigins.end(), origin) !=
               policy.allowedOrigins.end();
}

Verdict judgeRequest(const RequestHead& head, const HttpPolicy& policy) {
    if (!head.host) return refuse(ErrorKind::BadRequest, "A Host header is required");
    if (!isLocalHost(*head.host, policy.port)) {
        const std::string port = std::to_string(policy.port);
        return refuse(
            ErrorKind::ForbiddenHost,
            "Host " + quoted(*head.host) + " is not 127.0.0.1:" + port + " or localhost:" + port);
    }
    if (head.origin && !isAllowedOrigin(*head.origin, policy))
        return refuse(
            ErrorKind::ForbiddenOrigin,
            "Origin " + quoted(*head.origin) + " is not allowed (connector-host --allow-origin)");
    const std::string_view path = pathOf(head.target);
    const bool tokenless = isPage(path) || path == "/healthz";
    if (tokenless || path == "/metrics") {
        if (!isRead(head.method))
            return refuse(ErrorKind::MethodNotAllowed, "This path is read with GET", "GET, HEAD");
        if (tokenless)
            return answeredWith(isPage(path) ? Verdict::Action::Page : Verdict::Action::Health);
        if (!policy.token.empty() && !hasToken(head.authorization, policy.token))
            return refuse(ErrorKind::Unauthorized,
                          "A valid \"Authorization: Bearer\" token is required");
        return answeredWith(Verdict::Action::Metrics);
    }
    if (path != "/messages")
        return refuse(ErrorKind::NotFound, "Only /, /messages, /healthz and /metrics are served");
    if (head.method == "OPTIONS" && head.origin) return answeredWith(Verdict::Action::Preflight);
    if (head.method != "POST")
        return refuse(ErrorKind::MethodNotAllowed, "Send envelopes with POST", "POST");
    if (!policy.token.empty() && !hasToken(head.authorization, policy.token))
        return refuse(ErrorKind::Unauthorized,
                      "A valid \"Authorization: Bearer\" token is required");
    if (!isJson(head.contentType))
        return refuse(ErrorKind::UnsupportedMediaType, "Content-Type must be application/json");
    return Verdict{};
}

}  // namespace connectorhost
