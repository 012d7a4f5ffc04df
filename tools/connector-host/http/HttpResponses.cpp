#include "tools/connector-host/http/HttpResponses.hpp"

#include <boost/beast/http/write.hpp>
#include <chrono>
#include <ctime>
#include <sstream>

namespace connectorhost {
namespace {

namespace http = boost::beast::http;

// The Date header's text (IMF-fixdate), made again only when the second changes.
const std::string& dateNow() {
    thread_local std::time_t second = -1;
    thread_local std::string text;
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    if (now != second) {
        std::tm utc{};
        gmtime_r(&now, &utc);
        char buffer[40];
        const std::size_t size =
            std::strftime(buffer, sizeof buffer, "%a, %d %b %Y %H:%M:%S GMT", &utc);
        text.assign(buffer, size);
        second = now;
    }
    return text;
}

// A response that reads the host's state: its body, or for HEAD its length alone.
HttpResponse readResponse(unsigned status, std::string body, const char* contentType, bool head,
                          bool keepAlive) {
    HttpResponse response = makeResponse(status, {}, ResponseHeaders{keepAlive, {}, nullptr});
    response.set(http::field::content_type, contentType);
    if (head) {
        response.content_length(body.size());
        return response;
    }
    response.body() = std::move(body);
    response.prepare_payload();
    return response;
}

}  // namespace

HttpResponse makeResponse(unsigned status, std::string json, const ResponseHeaders& headers) {
    HttpResponse response(static_cast<http::status>(status), 11);
    response.set(http::field::date, dateNow());
    response.set(http::field::server, "connector-host");
    response.set(http::field::cache_control, "no-store");
    response.set("X-Content-Type-Options", "nosniff");
    if (status == 401) response.set(http::field::www_authenticate, "Bearer");
    if (status == 503) response.set(http::field::retry_after, "1");
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

HttpResponse healthResponse(bool serving, bool head, bool keepAlive) {
    return readResponse(serving ? 200 : 503,
                        serving ? "{\"status\":\"serving\"}\n" : "{\"status\":\"stopping\"}\n",
                        "application/json", head, keepAlive);
}

HttpResponse metricsResponse(std::string exposition, bool head, bool keepAlive) {
    return readResponse(200, std::move(exposition), "text/plain; version=0.0.4; charset=utf-8",
                        head, keepAlive);
}

std::string rawResponse(ErrorKind kind, const std::string& message) {
    std::ostringstream bytes;
    bytes << makeResponse(httpStatus(kind), errorAnswer(kind, message), ResponseHeaders{});
    return bytes.str();
}

}  // namespace connectorhost
