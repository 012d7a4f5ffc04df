// Who may use the loopback port: every guard of a request head, each at its edge.
#include <gtest/gtest.h>

#include "tools/connector-host/http/HttpPolicy.hpp"

namespace connectorhost {
namespace {

constexpr std::uint16_t PORT = 8080;
const HttpPolicy POLICY{PORT, {"http://localhost:3000"}, "s3cret-T0ken"};

RequestHead goodHead() {
    return RequestHead{"POST",
                       "/messages",
                       std::string("127.0.0.1:8080"),
                       std::nullopt,
                       std::string("application/json"),
                       std::string("Bearer s3cret-T0ken")};
}

struct Case {
    const char* what;
    void (*change)(RequestHead&);
    Verdict::Action action;
    ErrorKind kind;  // for a refusal
};

TEST(HttpPolicyTest, EachGuardRefusesJustPastItsEdge) {
    using A = Verdict::Action;
    using K = ErrorKind;
    const Case cases[] = {
        {"a good request", [](RequestHead&) {}, A::Serve, K::BadRequest},
        {"localhost in any case", [](RequestHead& h) { h.host = "LocalHost:8080"; }, A::Serve,
         K::BadRequest},
        {"no Host", [](RequestHead& h) { h.host.reset(); }, A::Refuse, K::BadRequest},
        {"another port", [](RequestHead& h) { h.host = "127.0.0.1:8081"; }, A::Refuse,
         K::ForbiddenHost},
        {"a longer port", [](RequestHead& h) { h.host = "127.0.0.1:80800"; }, A::Refuse,
         K::ForbiddenHost},
        {"a rebinding name", [](RequestHead& h) { h.host = "evil.localhost:8080"; }, A::Refuse,
         K::ForbiddenHost},
        {"no port", [](RequestHead& h) { h.host = "127.0.0.1"; }, A::Refuse, K::ForbiddenHost},
        {"an allowed origin", [](RequestHead& h) { h.origin = "http://localhost:3000"; }, A::Serve,
         K::BadRequest},
        {"a longer origin", [](RequestHead& h) { h.origin = "http://localhost:30001"; }, A::Refuse,
         K::ForbiddenOrigin},
        {"a prefix of an origin", [](RequestHead& h) { h.origin = "http://localhost:300"; },
         A::Refuse, K::ForbiddenOrigin},
        {"the host's own origin", [](RequestHead& h) { h.origin = "http://127.0.0.1:8080"; },
         A::Serve, K::BadRequest},
        {"its own origin by name", [](RequestHead& h) { h.origin = "http://localhost:8080"; },
         A::Serve, K::BadRequest},
        {"its address on another port", [](RequestHead& h) { h.origin = "http://127.0.0.1:8081"; },
         A::Refuse, K::ForbiddenOrigin},
        {"its address, a longer port", [](RequestHead& h) { h.origin = "http://127.0.0.1:80800"; },
         A::Refuse, K::ForbiddenOrigin},
        {"its address over https", [](RequestHead& h) { h.origin = "https://127.0.0.1:8080"; },
         A::Refuse, K::ForbiddenOrigin},
        {"its address with a path", [](RequestHead& h) { h.origin = "http://127.0.0.1:8080/"; },
         A::Refuse, K::ForbiddenOrigin},
        {"a look-alike name", [](RequestHead& h) { h.origin = "http://localhost.evil:8080"; },
         A::Refuse, K::ForbiddenOrigin},
        {"an origin in another case", [](RequestHead& h) { h.origin = "HTTP://localhost:3000"; },
         A::Refuse, K::ForbiddenOrigin},
        {"the null origin", [](RequestHead& h) { h.origin = "null"; }, A::Refuse,
         K::ForbiddenOrigin},
        {"another path", [](RequestHead& h) { h.target = "/messages/"; }, A::Refuse, K::NotFound},
        {"the page",
         [](RequestHead& h) {
             h.method = "GET";
             h.target = "/";
         },
         A::Page, K::BadRequest},
        {"the page's head",
         [](RequestHead& h) {
             h.method = "HEAD";
             h.target = "/index.html";
         },
         A::Page, K::BadRequest},
        {"a post to the page", [](RequestHead& h) { h.target = "/"; }, A::Refuse,
         K::MethodNotAllowed},
        {"another page", [](RequestHead& h) { h.target = "/index.htm"; }, A::Refuse, K::NotFound},
        {"a query, which routing ignores", [](RequestHead& h) { h.target = "/messages?x=1"; },
         A::Serve, K::BadRequest},
        {"the page with a query",
         [](RequestHead& h) {
             h.method = "GET";
             h.target = "/?x=1";
         },
         A::Page, K::BadRequest},
        {"health, without the token",
         [](RequestHead& h) {
             h.method = "GET";
             h.target = "/healthz";
             h.authorization.reset();
         },
         A::Health, K::BadRequest},
        {"a post to health", [](RequestHead& h) { h.target = "/healthz"; }, A::Refuse,
         K::MethodNotAllowed},
        {"health from a foreign origin",
         [](RequestHead& h) {
             h.method = "GET";
             h.target = "/healthz";
             h.origin = "http://evil.example";
         },
         A::Refuse, K::ForbiddenOrigin},
        {"metrics with the token",
         [](RequestHead& h) {
             h.method = "HEAD";
             h.target = "/metrics";
         },
         A::Metrics, K::BadRequest},
        {"metrics without the token",
         [](RequestHead& h) {
             h.method = "GET";
             h.target = "/metrics";
             h.authorization.reset();
         },
         A::Refuse, K::Unauthorized},
        {"GET", [](RequestHead& h) { h.method = "GET"; }, A::Refuse, K::MethodNotAllowed},
        {"OPTIONS without an origin", [](RequestHead& h) { h.method = "OPTIONS"; }, A::Refuse,
         K::MethodNotAllowed},
        {"a preflight",
         [](RequestHead& h) {
             h.method = "OPTIONS";
             h.origin = "http://localhost:3000";
         },
         A::Preflight, K::BadRequest},
        {"the scheme in lower case",
         [](RequestHead& h) { h.authorization = "bearer s3cret-T0ken"; }, A::Serve, K::BadRequest},
        {"no token", [](RequestHead& h) { h.authorization.reset(); }, A::Refuse, K::Unauthorized},
        {"an empty token", [](RequestHead& h) { h.authorization = "Bearer "; }, A::Refuse,
         K::Unauthorized},
        {"a prefix of the token", [](RequestHead& h) { h.authorization = "Bearer s3cret"; },
         A::Refuse, K::Unauthorized},
        {"a longer token", [](RequestHead& h) { h.authorization = "Bearer s3cret-T0kenX"; },
         A::Refuse, K::Unauthorized},
        {"the token in another case",
         [](RequestHead& h) { h.authorization = "Bearer s3cret-t0ken"; }, A::Refuse,
         K::Unauthorized},
        {"another scheme", [](RequestHead& h) { h.authorization = "Basic s3cret-T0ken"; },
         A::Refuse, K::Unauthorized},
        {"JSON with a charset",
         [](RequestHead& h) { h.contentType = "Application/JSON; charset=utf-8"; }, A::Serve,
         K::BadRequest},
        {"text", [](RequestHead& h) { h.contentType = "text/plain"; }, A::Refuse,
         K::UnsupportedMediaType},
        {"a longer media type", [](RequestHead& h) { h.contentType = "application/jsonx"; },
         A::Refuse, K::UnsupportedMediaType},
        {"no content type", [](RequestHead& h) { h.contentType.reset(); }, A::Refuse,
         K::UnsupportedMediaType},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RequestHead head = goodHead();
        c.change(head);
        const Verdict verdict = judgeRequest(head, POLICY);
        EXPECT_EQ(verdict.action, c.action);
        if (c.action == Verdict::Action::Refuse) {
            EXPECT_EQ(verdict.kind, c.kind);
        }
    }
}

TEST(HttpPolicyTest, ChecksRunInOrderAndQuoteHeadersAsValidText) {
    // A foreign page learns nothing of the token or the path: the origin is refused first.
    RequestHead head = goodHead();
    head.origin = std::string("http://evil.example\xFF\xFE");
    head.authorization.reset();
    head.target = "/other";
    const Verdict verdict = judgeRequest(head, POLICY);
    EXPECT_EQ(verdict.kind, ErrorKind::ForbiddenOrigin);
    EXPECT_EQ(verdict.message,
              "Origin \"http://evil.example\\xFF\\xFE\" is not allowed (connector-host "
              "--allow-origin)");

    head = goodHead();
    head.host = std::string(300, 'h');
    const std::string message = judgeRequest(head, POLICY).message;  // quoted cut to 100 bytes
    EXPECT_NE(message.find(std::string(100, 'h') + "...\""), std::string::npos) << message;
    EXPECT_EQ(message.find(std::string(101, 'h')), std::string::npos) << message;

    // The page holds no secret: it is served without the token, to GET and HEAD only.
    head = goodHead();
    head.method = "GET";
    head.target = "/";
    head.authorization.reset();
    EXPECT_EQ(judgeRequest(head, POLICY).action, Verdict::Action::Page);
    head.method = "POST";
    EXPECT_STREQ(judgeRequest(head, POLICY).allow, "GET, HEAD");
    head.target = "/messages";
    head.method = "PUT";
    EXPECT_STREQ(judgeRequest(head, POLICY).allow, "POST");
    EXPECT_FALSE(isAllowedOrigin("http://127.0.0.1:3000", POLICY));

    // Without a configured token, none is asked for.
    head = goodHead();
    head.authorization.reset();
    EXPECT_EQ(judgeRequest(head, HttpPolicy{PORT, {}, ""}).action, Verdict::Action::Serve);
}

}  // namespace
}  // namespace connectorhost
