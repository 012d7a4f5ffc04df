#include "tools/connector-host/http/Playground.hpp"

#include <Poco/Base64Encoder.h>
#include <Poco/SHA2Engine.h>

#include <sstream>

#include "tools/connector-host/http/PlaygroundPage.hpp"

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

}  // namespace

const std::string& pageSecurityPolicy() {
    // Nothing from elsewhere, no plug-ins, no frames, no form posts: the page's own inline style
    // and script, the blank icon it names, and fetches to the port it came from.
    static const std::string policy =
        "default-src 'none'; script-src " + hashSource(playground_page::SCRIPT) + "; style-src " +
        hashSource(playground_page::STYLE) +
        "; connect-src 'self'; img-src data:; base-uri 'none'; form-action 'none'; "
        "frame-ancestors 'none'";
    return policy;
}

HttpResponse pageResponse(bool head, bool keepAlive) {
    HttpResponse response =
        makeResponse(200, {}, ResponseHeaders{keepAlive, std::nullopt, nullptr});
    response.set(http::field::content_type, "text/html; charset=utf-8");
    response.set("Content-Security-Policy", pageSecurityPolicy());
    response.set("Referrer-Policy", "no-referrer");
    if (head) {
        response.content_length(playground_page::HTML.size());  // the body itself is left out
        return response;
    }
    response.body() = std::string(playground_page::HTML);
    response.prepare_payload();
    return response;
}

}  // namespace connectorhost
