// What every response carries, the CORS headers an allowed origin gets, and the playground page:
// one self-contained page whose Content-Security-Policy admits exactly its own inline style and
// script (by hash) and requests to its own origin; HEAD gives the head alone.
#include <Poco/Base64Encoder.h>
#include <Poco/SHA2Engine.h>
#include <gtest/gtest.h>

#include <sstream>

#include "tools/connector-host/http/Playground.hpp"

namespace connectorhost {
namespace {

namespace http = boost::beast::http;

// The text between `open` and the next `close` in `page`; fails the test unless there is one.
std::string between(const std::string& page, const std::string& open, const std::string& close) {
    const auto begin = page.find(open);
    EXPECT_NE(begin, std::string::npos) << open;
    EXPECT_EQ(page.find(open, begin + 1), std::string::npos) << "more than one " << open;
    const auto end = page.find(close, begin);
    EXPECT_NE(end, std::string::npos) << close;
    return page.substr(begin + open.size(), end - begin - open.size());
}

std::string sha256Source(const std::string& text) {
    Poco::SHA2Engine engine(Poco::SHA2Engine::SHA_256);
    engine.update(text);
    std::ostringstream encoded;
    Poco::Base64Encoder base64(encoded);
    base64.rdbuf()->setLineLength(0);
    for (unsigned char byte : engine.digest()) base64.put(static_cast<char>(byte));
    base64.close();
    return "'sha256-" + encoded.str() + "'";
}

TEST(HttpResponsesTest, EveryAnswerCarriesTheCommonHeadersAndAnAllowedOriginItsCors) {
    const HttpResponse plain = makeResponse(200, R"({"a":1})", ResponseHeaders{true, {}, nullptr});
    EXPECT_EQ(plain[http::field::content_type], "application/json");
    EXPECT_EQ(plain["X-Content-Type-Options"], "nosniff");
    EXPECT_EQ(plain[http::field::cache_control], "no-store");
    EXPECT_EQ(plain.body(), "{\"a\":1}\n");
    EXPECT_TRUE(plain.keep_alive());
    EXPECT_EQ(plain.count(http::field::access_control_allow_origin), 0u);

    const HttpResponse preflight = makeResponse(
        204, "", ResponseHeaders{false, std::string("http://localhost:3000"), nullptr});
    EXPECT_EQ(preflight[http::field::access_control_allow_origin], "http://localhost:3000");
    EXPECT_EQ(preflight[http::field::vary], "Origin");
    EXPECT_EQ(preflight[http::field::access_control_allow_methods], "POST");
    EXPECT_EQ(preflight[http::field::access_control_allow_headers], "Content-Type, Authorization");
    EXPECT_FALSE(preflight.keep_alive());
    EXPECT_EQ(preflight.count(http::field::content_type), 0u);
    EXPECT_EQ(makeResponse(405, "{}", ResponseHeaders{false, {}, "POST"})[http::field::allow],
              "POST");
    EXPECT_EQ(plain.count(http::field::date), 1u);
    EXPECT_EQ(plain.count(http::field::www_authenticate) + plain.count(http::field::retry_after),
              0u);
    const HttpResponse unauthorized = makeResponse(401, "{}", ResponseHeaders{});
    EXPECT_EQ(unauthorized[http::field::www_authenticate], "Bearer");
    const HttpResponse stopping = healthResponse(false, false, false);
    EXPECT_EQ(stopping.result_int(), 503u);
    EXPECT_EQ(stopping[http::field::retry_after], "1");
    EXPECT_EQ(stopping.body(), "{\"status\":\"stopping\"}\n");
    EXPECT_EQ(healthResponse(true, true, true)[http::field::content_length], "21");
}

TEST(HttpResponsesTest, ThePageIsSelfContainedAndItsPolicyAdmitsOnlyItsOwnInlineParts) {
    const HttpResponse response = pageResponse(false, true);
    EXPECT_EQ(response.result(), http::status::ok);
    EXPECT_EQ(response[http::field::content_type], "text/html; charset=utf-8");
    EXPECT_EQ(response[http::field::cache_control], "no-store");
    EXPECT_EQ(response["X-Content-Type-Options"], "nosniff");
    EXPECT_TRUE(response.keep_alive());
    const std::string& page = response.body();
    EXPECT_EQ(response[http::field::content_length], std::to_string(page.size()));
    EXPECT_EQ(page.rfind("<!doctype html>", 0), 0u);
    for (const char* outside : {" src=", "stylesheet", "@import", "url(", "https:"}) {
        SCOPED_TRACE(outside);
        EXPECT_EQ(page.find(outside), std::string::npos);
    }

    const std::string policy(response["Content-Security-Policy"]);
    EXPECT_EQ(policy, pageSecurityPolicy());
    EXPECT_EQ(policy.rfind("default-src 'none'; ", 0), 0u) << policy;
    const std::string script = between(page, "<script type=\"module\">", "</script>");
    const std::string style = between(page, "<style>", "</style>");
    EXPECT_NE(script.find("function announce("), std::string::npos);  // the client module too
    for (const std::string& directive :
         {"script-src " + sha256Source(script) + ";", "style-src " + sha256Source(style) + ";",
          std::string("connect-src 'self';"), std::string("frame-ancestors 'none'")}) {
        SCOPED_TRACE(directive);
        EXPECT_NE(policy.find(directive), std::string::npos) << policy;
    }
    EXPECT_EQ(policy.find("http"), std::string::npos) << policy;
    EXPECT_EQ(policy.find("unsafe"), std::string::npos) << policy;

    // HEAD: the same head, and no body.
    const HttpResponse head = pageResponse(true, false);
    EXPECT_EQ(head.result(), http::status::ok);
    EXPECT_TRUE(head.body().empty());
    EXPECT_EQ(head[http::field::content_length], std::to_string(page.size()));
    EXPECT_EQ(head["Content-Security-Policy"], policy);
    EXPECT_FALSE(head.keep_alive());
}

}  // namespace
}  // namespace connectorhost
