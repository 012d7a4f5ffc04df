#include "tools/connector-host/Playground.hpp"

#include <Poco/Base64Encoder.h>
#include <Poco/JSON/Object.h>
#include <Poco/SHA2Engine.h>

#include <sstream>

#include "tools/connector-host/PlaygroundPage.hpp"

namespace connectorhost {

namespace http = boost::beast::http;

namespace {

// The CSP source expression that allows exactly this inline text: 'sha256-<base64 digest>'.
std::string hashSource(std::string_view text) {
    Poco::SHA2Engine sha256(Poco::SHA2Engine::SHA_256);
    sha256.update(text.data(), static_cast<unsigned>(text.size()));
    const Poco::DigestEngine::Digest& digest = sha256.digest();
    std::ostringstream encoded;
    Poco::Base64Encoder base64(encoded);
    base64.rdbuf()->setLineLength(0);
    base64.write(reinterpret_cast<const char*>(digest.data()),
                 static_cast<std::streamsize>(digest.size()));
    base64.close();
    return "'sha256-" + encoded.str() + "'";
}

std::string errorJson(const Verdict& verdict) {
    Poco::JSON::Object::Ptr error = new Poco::JSON::Object(Poco::JSON_PRESERVE_KEY_ORDER);
    error->set("kind", verdict.kind);
    error->set("message", verdict.message);
    Poco::JSON::Object answer;
    answer.set("error", error);
    std::ostringstream text;
    answer.stringify(text);
    return text.str() + "\n";
}

}  // namespace

const std::string& pageSecurityPolicy() {
    // Nothing from elsewhere, no plug-ins, no frames, no form posts: the page's own inline style
    // and script, the blank icon it names, and fetches to the port it came from.
    static const std::string policy =
        "default-src 'none'; script-src " + hashSource(playground_page::kScript) + "; style-src " +
        hashSource(playground_page::kStyle) +
        "; connect-src 'self'; img-src data:; base-uri 'none'; form-action 'none'; "
        "frame-ancestors 'none'";
    return policy;
}

PageResponse pageResponse(const Verdict& verdict, bool head, bool keepAlive) {
    PageResponse response(static_cast<http::status>(verdict.status), 11);
    response.set(http::field::server, "connector-host");
    response.set(http::field::cache_control, "no-store");
    response.keep_alive(keepAlive);
    if (verdict.status != 200) {
        response.set(http::field::allow, "GET, HEAD");
        response.set(http::field::content_type, "application/json");
        response.body() = errorJson(verdict);
        response.prepare_payload();
        return response;
    }
    response.set(http::field::content_type, "text/html; charset=utf-8");
    response.set("Content-Security-Policy", pageSecurityPolicy());
    response.set("X-Content-Type-Options", "nosniff");
    response.set("Referrer-Policy", "no-referrer");
    if (head) {
        response.content_length(playground_page::kHtml.size());  // the body itself is left out
        return response;
    }
    response.body() = std::string(playground_page::kHtml);
    response.prepare_payload();
    return response;
}

}  // namespace connectorhost
