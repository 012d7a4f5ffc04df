// connectorhost::makeResponse: every HTTP response connector-host writes, with the headers all of
// them carry (Date, Server, Cache-Control: no-store, X-Content-Type-Options: nosniff,
// Connection), "WWW-Authenticate: Bearer" on a 401, "Retry-After: 1" on a 503 and, for an
// allowed cross-origin caller, the CORS headers (and on a preflight the methods, headers and
// max-age it may use). A JSON body ends with a newline. Threads: pure functions (the Date text is
// made once a second per thread).
#pragma once

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <optional>
#include <string>

#include "tools/connector-host/core/ErrorKind.hpp"

namespace connectorhost {

using HttpResponse = boost::beast::http::response<boost::beast::http::string_body>;

struct ResponseHeaders {
    bool keepAlive = false;
    std::optional<std::string> allowedOrigin;  // echoed as Access-Control-Allow-Origin
    const char* allow = nullptr;               // for 405: the methods the target takes
};

// makeResponse: `json` (an answer or error answer, or empty for none) with `status`.
[[nodiscard]] HttpResponse makeResponse(unsigned status, std::string json,
                                        const ResponseHeaders& headers);

// healthResponse: GET /healthz: 200 {"status":"serving"}, or 503 {"status":"stopping"}.
[[nodiscard]] HttpResponse healthResponse(bool serving, bool head, bool keepAlive);

// metricsResponse: GET /metrics: `exposition` in the Prometheus text format, version 0.0.4.
[[nodiscard]] HttpResponse metricsResponse(std::string exposition, bool head, bool keepAlive);

// rawResponse: the bytes of a short error answer that closes the connection, for a client that
// is refused outside the usual flow (written with one non-blocking send).
[[nodiscard]] std::string rawResponse(ErrorKind kind, const std::string& message);

}  // namespace connectorhost
