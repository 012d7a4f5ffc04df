// Who may use the loopback port: every guard of a request head, each at its edge.
#include <gtest/gtest.h>

#include <sstream>

#include "tools/connector-host/http/HttpPolicy.hpp"

namespace connectorhost {
namespace {

constexpr std::uint16_t PORT = 8080;
const HttpPolicy POLICY{PORT, {"http://localhost:3000"}, "s3cret-T0ken"};

RequestHead goodHead() {
    return RequestHead{"POST",       "/messages",        "127.0.0.1:8080",
                       std::nullopt, "application/json", "Bearer s3cret-T0ken"};
}

// edited: the good head with `edits` made: "field=value" separated by "|"; "-" leaves a field out.
RequestHead edited(const std::string& edits) {
    RequestHead head = goodHead();
    std::istringstream in(edits);
    for (std::string edit; std::getline(in, edit, '|');) {
        const std::string field = edit.substr(0, edit.find('='));
        const std::string value = edit.substr(field.size() + 1);
        const std::optional<std::string> optional =
            value == "-" ? std::nullopt : std::optional<std::string>(value);
        if (field == "method") head.method = value;
        if (field == "target") head.target = value;
        if (field == "host") head.host = optional;
        if (field == "origin") head.origin = optional;
        if (field == "auth") head.authorization = optional;
        if (field == "type") head.contentType = optional;
    }
    return head;
}

struct Case {
    const char* what;
    const char* edits;
    Verdict::Action action;
    ErrorKind kind;  // for a refusal
};

using A = Verdict::Action;
using K = ErrorKind;
// clang-format off
const Case HEADS[] = {
    {"a good request", "", A::Serve, K::BadRequest},
    {"localhost in any case", "host=LocalHost:8080", A::Serve, K::BadRequest},
    {"no Host", "host=-", A::Refuse, K::BadRequest},
    {"another port", "host=127.0.0.1:8081", A::Refuse, K::ForbiddenHost},
    {"a longer port", "host=127.0.0.1:80800", A::Refuse, K::ForbiddenHost},
    {"a rebinding name", "host=evil.localhost:8080", A::Refuse, K::ForbiddenHost},
    {"no port", "host=127.0.0.1", A::Refuse, K::ForbiddenHost},
    {"an allowed origin", "origin=http://localhost:3000", A::Serve, K::BadRequest},
    {"a longer origin", "origin=http://localhost:30001", A::Refuse, K::ForbiddenOrigin},
    {"a prefix of an origin", "origin=http://localhost:300", A::Refuse, K::ForbiddenOrigin},
    {"the host's own origin", "origin=http://127.0.0.1:8080", A::Serve, K::BadRequest},
    {"its own origin by name", "origin=http://localhost:8080", A::Serve, K::BadRequest},
    {"own address, other port", "origin=http://127.0.0.1:8081", A::Refuse, K::ForbiddenOrigin},
    {"own address, longer port", "origin=http://127.0.0.1:80800", A::Refuse,
     K::ForbiddenOrigin},
    {"its address over https", "origin=https://127.0.0.1:8080", A::Refuse, K::ForbiddenOrigin},
    {"its address with a path", "origin=http://127.0.0.1:8080/", A::Refuse, K::ForbiddenOrigin},
    {"a look-alike name", "origin=http://localhost.evil:8080", A::Refuse, K::ForbiddenOrigin},
    {"origin in another case", "origin=HTTP://localhost:3000", A::Refuse, K::ForbiddenOrigin},
    {"the null origin", "origin=null", A::Refuse, K::ForbiddenOrigin},
    {"another path", "target=/messages/", A::Refuse, K::NotFound},
    {"the page, no token", "method=GET|target=/|auth=-", A::Page, K::BadRequest},
    {"the page's head", "method=HEAD|target=/index.html", A::Page, K::BadRequest},
    {"a post to the page", "target=/", A::Refuse, K::MethodNotAllowed},
    {"another page", "target=/index.htm", A::Refuse, K::NotFound},
    {"a query, which routing ignores", "target=/messages?x=1", A::Serve, K::BadRequest},
    {"the page with a query", "method=GET|target=/?x=1", A::Page, K::BadRequest},
    {"health, no token", "method=GET|target=/healthz|auth=-", A::Health, K::BadRequest},
    {"a post to health", "target=/healthz", A::Refuse, K::MethodNotAllowed},
    {"health, foreign origin",
     "method=GET|target=/healthz|origin=http://evil.example", A::Refuse, K::ForbiddenOrigin},
    {"metrics with the token", "method=HEAD|target=/metrics", A::Metrics, K::BadRequest},
    {"metrics, no token", "method=GET|target=/metrics|auth=-", A::Refuse, K::Unauthorized},
    {"GET", "method=GET", A::Refuse, K::MethodNotAllowed},
    {"OPTIONS without an origin", "method=OPTIONS", A::Refuse, K::MethodNotAllowed},
    {"a preflight", "method=OPTIONS|origin=http://localhost:3000", A::Preflight, K::BadRequest},
    {"the scheme in lower case", "auth=bearer s3cret-T0ken", A::Serve, K::BadRequest},
    {"no token", "auth=-", A::Refuse, K::Unauthorized},
    {"an empty token", "auth=Bearer ", A::Refuse, K::Unauthorized},
    {"a prefix of the token", "auth=Bearer s3cret", A::Refuse, K::Unauthorized},
    {"a longer token", "auth=Bearer s3cret-T0kenX", A::Refuse, K::Unauthorized},
    {"the token in another case", "auth=Bearer s3cret-t0ken", A::Refuse, K::Unauthorized},
    {"another scheme", "auth=Basic s3cret-T0ken", A::Refuse, K::Unauthorized},
    {"JSON with a charset", "type=Application/JSON; charset=utf-8", A::Serve, K::BadRequest},
    {"text", "type=text/plain", A::Refuse, K::UnsupportedMediaType},
    {"a longer media type", "type=application/jsonx", A::Refuse, K::UnsupportedMediaType},
    {"no content type", "type=-", A::Refuse, K::UnsupportedMediaType},
};
// clang-format on

TEST(HttpPolicyTest, EachGuardRefusesJustPastItsEdge) {
    for (const Case& c : HEADS) {
        SCOPED_TRACE(c.what);
        const Verdict verdict = judgeRequest(edited(c.edits), POLICY);
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

    const std::string message =
        judgeRequest(edited("host=" + std::string(300, 'h')), POLICY).message;  // quoted cut to 100
    EXPECT_NE(message.find(std::string(100, 'h') + "...\""), std::string::npos) << message;
    EXPECT_EQ(message.find(std::string(101, 'h')), std::string::npos) << message;

    // The page (served without the token: the table) is for GET and HEAD only.
    EXPECT_STREQ(judgeRequest(edited("target=/"), POLICY).allow, "GET, HEAD");
    EXPECT_STREQ(judgeRequest(edited("method=PUT"), POLICY).allow, "POST");
    EXPECT_FALSE(isAllowedOrigin("http://127.0.0.1:3000", POLICY));

    // Without a configured token, none is asked for.
    EXPECT_EQ(judgeRequest(edited("auth=-"), HttpPolicy{PORT, {}, ""}).action,
              Verdict::Action::Serve);
}

}  // namespace
}  // namespace connectorhost
