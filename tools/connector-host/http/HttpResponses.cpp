#include "tools/connector-host/http/HttpResponses.hpp"

#include <boost/beast/http/write.hpp>
#include <sstream>

namespace connectorhost {

namespace http = boost::beast::http;

HttpResponse makeResponse(unsigned status, std::string json, const ResponseHeaders& headers) {
    HttpResponse response(static_cast<http::status>(status), 11);
    response.set(http::field::server, "connector-host");
    response.set(http::field::cache_control, "no-store");
    response.set("X-Content-Type-Options", "nosniff");
    if (headers.allow) response.set(http::field::allow, headers.allow);
    if (headers.allowedOrigin) {
        response.set(http::field::access_control_allow_origin, *headers.allowedOrigin);
        response.set(http::field::vary, "Origin");
        if (status == 204) {
            response.set(http::field::access_control_allow_methods, "POST");
            response.set(http::field::access_control_allow_headers, "Content-Type, Authorization");
            response.set(http::field::access_control_max_age, "600");
        }
    }
    if (!json.empty()) {
        response.set(http::field::content_type, "application/json");
        response.body() = std::move(json) + "\n";
    }
    response.keep_alive(headers.keepAlive);
    response.prepare_payload();
    return response;
}

std::string rawResponse(ErrorKind kind, const std::string& message) {
    std::ostringstream bytes;
    bytes << makeResponse(httpStatus(kind), errorAnswer(kind, message), ResponseHeaders{});
    return bytes.str();
}

}  // namespace connectorhost
