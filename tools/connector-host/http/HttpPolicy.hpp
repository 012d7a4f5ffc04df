// connectorhost::judgeRequest: who may use the loopback port. Every web page the user opens can
// send requests to 127.0.0.1, so a request head is checked, in this order, before its body is
// read (as local notebook and language servers guard theirs):
//
//   Host           127.0.0.1:PORT or localhost:PORT (DNS rebinding)   else 400 bad_request /
//                                                                          403 forbidden_host
//   Origin         absent, the host's own (http://127.0.0.1:PORT or   else 403 forbidden_origin
//                  http://localhost:PORT: its playground page), or
//                  one of the allowed origins
//   path           (the target without its query; a query is ignored)
//                  / or /index.html: the playground page, a Page      (other methods: 405
//                  verdict for GET or HEAD (no token: it holds none)  "Allow: GET, HEAD")
//                  /healthz: Health, GET or HEAD, no token (it tells
//                  only whether the host serves)
//                  /metrics: Metrics, GET or HEAD, with the token
//                  when one is set (it tells what the host did)       else 401
//                  /messages                                          else 404 not_found
//   method         POST; OPTIONS from an allowed origin is a preflight else 405 method_not_allowed
//   Authorization  "Bearer <token>" when a token is set               else 401 unauthorized
//   Content-Type   application/json (a form or text/plain POST needs  else 415
//                  no preflight, so it must not be served)                unsupported_media_type
//
// A header value quoted in a refusal is cut short and escaped (printable), so that the answer
// stays small and UTF-8 whatever the client sent. Threads: pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/connector-host/core/ErrorKind.hpp"

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
    // Page: the playground page answers (Playground.hpp); Health and Metrics: the host's state.
    enum class Action { Serve, Preflight, Refuse, Page, Health, Metrics };
    Action action = Action::Serve;
    ErrorKind kind = ErrorKind::BadRequest;  // for a refusal; its status is the answer's
    std::string message;
    const char* allow = nullptr;  // for 405: the methods the target takes
};

[[nodiscard]] Verdict judgeRequest(const RequestHead& head, const HttpPolicy& policy);
// pathOf: a request target without its query.
[[nodiscard]] std::string_view pathOf(std::string_view target);
// isAllowedOrigin: whether `origin` may send requests, and answers may carry
// Access-Control-Allow-Origin for it: the host's own origin or one of the allowed ones.
[[nodiscard]] bool isAllowedOrigin(const std::string& origin, const HttpPolicy& policy);

}  // namespace connectorhost
