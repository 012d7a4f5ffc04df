// connectorhost::judgeRequest: who may use the loopback port. Every web page the user opens can
// send requests to 127.0.0.1, so a request head is checked, in this order, before its body is
// read (as local notebook and language servers guard theirs):
//
//   Host           127.0.0.1:PORT or localhost:PORT (DNS rebinding)   else 400 / 403 forbidden_host
//   Origin         absent, the host's own (http://127.0.0.1:PORT or   else 403 forbidden_origin
//                  http://localhost:PORT: its playground page), or
//                  one of the allowed origins
//   target         / or /index.html: the playground page, a Page      (other methods: a
//                  verdict for GET or HEAD (no token: it holds none)  Page verdict of 405)
//                  /messages                                          else 404 not_found
//   method         POST; OPTIONS from an allowed origin is a preflight else 405 method_not_allowed
//   Authorization  "Bearer <token>" when a token is set               else 401 unauthorized
//   Content-Type   application/json (a form or text/plain POST needs  else 415
//                  no preflight, so it must not be served)                unsupported_media_type
//
// Threads: pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace connectorhost {

struct HttpPolicy {
    std::uint16_t port = 0;  // the bound port, which Host must name
    std::vector<std::string>
        allowedOrigins;  // exact origins ("http://localhost:3000"); empty: none
    std::string token;   // the bearer token; empty: none is required
};

struct RequestHead {
    std::string method;
    std::string target;
    std::optional<std::string> host;
    std::optional<std::string> origin;
    std::optional<std::string> contentType;
    std::optional<std::string> authorization;
};

struct Verdict {
    // Page: the playground page (Playground.hpp) answers, with `status` 200 or 405.
    enum class Action { Serve, Preflight, Refuse, Page };
    Action action = Action::Serve;
    unsigned status = 200;  // for a refusal or a page
    std::string kind;
    std::string message;
};

[[nodiscard]] Verdict judgeRequest(const RequestHead& head, const HttpPolicy& policy);
// isAllowedOrigin: whether `origin` may send requests, and answers may carry
// Access-Control-Allow-Origin for it: the host's own origin or one of the allowed ones.
[[nodiscard]] bool isAllowedOrigin(const std::string& origin, const HttpPolicy& policy);

}  // namespace connectorhost
