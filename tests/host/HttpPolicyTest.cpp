// judgeRequest for the host's own page and origin: the playground page is served at / and
// /index.html to GET and HEAD only, and the host's own origin (127.0.0.1 or localhost with its
// port, over http) may send envelopes without --allow-origin, while every other origin, and every
// other check, keeps its rule.
#include <gtest/gtest.h>

#include "tools/connector-host/HttpPolicy.hpp"

namespace connectorhost {
namespace {

using Action = Verdict::Action;

struct Case {
    const char* label;
    RequestHead head;
    Action action;
    unsigned status;
    const char* kind;
};

RequestHead request(std::string method, std::string target,
                    std::optional<std::string> origin = std::nullopt,
                    std::optional<std::string> contentType = std::string("application/json"),
                    std::optional<std::string> host = std::string("127.0.0.1:8080")) {
    return RequestHead{std::move(method), std::move(target),      std::move(host),
                       std::move(origin), std::move(contentType), std::nullopt};
}

const HttpPolicy kPolicy{8080, {"http://localhost:3000"}, ""};

TEST(HttpPolicyTest, ThePageAndTheOwnOrigin) {
    const Case cases[] = {
        {"GET /", request("GET", "/", std::nullopt, std::nullopt), Action::Page, 200, ""},
        {"GET /index.html", request("GET", "/index.html", std::nullopt, std::nullopt), Action::Page,
         200, ""},
        {"HEAD /", request("HEAD", "/", std::nullopt, std::nullopt), Action::Page, 200, ""},
        {"GET / from the page itself", request("GET", "/", "http://127.0.0.1:8080"), Action::Page,
         200, ""},
        {"POST /", request("POST", "/"), Action::Page, 405, "method_not_allowed"},
        {"OPTIONS / from an allowed origin", request("OPTIONS", "/", "http://localhost:3000"),
         Action::Page, 405, "method_not_allowed"},
        {"GET /favicon.ico", request("GET", "/favicon.ico"), Action::Refuse, 404, "not_found"},
        {"GET /index.htm", request("GET", "/index.htm"), Action::Refuse, 404, "not_found"},
        {"GET /messages", request("GET", "/messages"), Action::Refuse, 405, "method_not_allowed"},
        {"GET / with a rebound Host", request("GET", "/", std::nullopt, std::nullopt, "evil:8080"),
         Action::Refuse, 403, "forbidden_host"},
        {"GET / from a foreign page", request("GET", "/", "http://evil.example"), Action::Refuse,
         403, "forbidden_origin"},
        {"own origin 127.0.0.1", request("POST", "/messages", "http://127.0.0.1:8080"),
         Action::Serve, 200, ""},
        {"own origin localhost", request("POST", "/messages", "http://localhost:8080"),
         Action::Serve, 200, ""},
        {"allowed origin", request("POST", "/messages", "http://localhost:3000"), Action::Serve,
         200, ""},
        {"another port", request("POST", "/messages", "http://127.0.0.1:8081"), Action::Refuse, 403,
         "forbidden_origin"},
        {"port as a prefix", request("POST", "/messages", "http://127.0.0.1:80800"), Action::Refuse,
         403, "forbidden_origin"},
        {"https", request("POST", "/messages", "https://127.0.0.1:8080"), Action::Refuse, 403,
         "forbidden_origin"},
        {"no port", request("POST", "/messages", "http://127.0.0.1"), Action::Refuse, 403,
         "forbidden_origin"},
        {"IPv6 loopback", request("POST", "/messages", "http://[::1]:8080"), Action::Refuse, 403,
         "forbidden_origin"},
        {"a path after the origin", request("POST", "/messages", "http://127.0.0.1:8080/"),
         Action::Refuse, 403, "forbidden_origin"},
        {"a sandboxed page", request("POST", "/messages", "null"), Action::Refuse, 403,
         "forbidden_origin"},
        {"a look-alike name", request("POST", "/messages", "http://localhost.evil:8080"),
         Action::Refuse, 403, "forbidden_origin"},
        {"own origin, text/plain",
         request("POST", "/messages", "http://127.0.0.1:8080", "text/plain"), Action::Refuse, 415,
         "unsupported_media_type"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const Verdict verdict = judgeRequest(c.head, kPolicy);
        EXPECT_EQ(verdict.action, c.action);
        EXPECT_EQ(verdict.status, c.status);
        EXPECT_EQ(verdict.kind, c.kind);
    }
}

TEST(HttpPolicyTest, TheOwnOriginStillNeedsTheToken) {
    HttpPolicy policy = kPolicy;
    policy.token = "s3cret";
    RequestHead head = request("POST", "/messages", "http://127.0.0.1:8080");
    EXPECT_EQ(judgeRequest(head, policy).status, 401u);
    head.authorization = "Bearer s3cret";
    EXPECT_EQ(judgeRequest(head, policy).action, Action::Serve);
    // The page itself carries no secret: it is served without the token, and asks for it.
    EXPECT_EQ(judgeRequest(request("GET", "/", std::nullopt, std::nullopt), policy).action,
              Action::Page);
}

TEST(HttpPolicyTest, AnswersCarryCorsHeadersForTheOwnAndTheAllowedOrigins) {
    for (const char* origin :
         {"http://127.0.0.1:8080", "http://localhost:8080", "http://localhost:3000"}) {
        SCOPED_TRACE(origin);
        EXPECT_TRUE(isAllowedOrigin(origin, kPolicy));
    }
    for (const char* origin :
         {"http://127.0.0.1:3000", "http://localhost:8081", "http://evil.example"}) {
        SCOPED_TRACE(origin);
        EXPECT_FALSE(isAllowedOrigin(origin, kPolicy));
    }
}

}  // namespace
}  // namespace connectorhost
