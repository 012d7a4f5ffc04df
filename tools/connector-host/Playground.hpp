// connectorhost::pageResponse: the answer to a request that judgeRequest gave a Page verdict,
// that is GET or HEAD of / or /index.html on the loopback port: the playground page, a page that
// announces itself to the host as a browser client and lets one send any envelope. The page is
// one self-contained HTML text (its style and module script inlined, PlaygroundPage.hpp); it
// loads nothing else, and its Content-Security-Policy forbids everything but its own inline style
// and script (by hash) and requests to its own origin.
//
// Threads: pure functions of constant data. Errors: none (allocation failures aside).
#pragma once

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <string>

#include "tools/connector-host/HttpPolicy.hpp"

namespace connectorhost {

using PageResponse = boost::beast::http::response<boost::beast::http::string_body>;

// pageResponse: 200 with the page (for HEAD its head alone, with the page's Content-Length), or
// for a verdict of 405 the JSON error it names with "Allow: GET, HEAD". `keepAlive` is written as
// the response's Connection.
[[nodiscard]] PageResponse pageResponse(const Verdict& verdict, bool head, bool keepAlive);

// pageSecurityPolicy: the page's Content-Security-Policy header value.
[[nodiscard]] const std::string& pageSecurityPolicy();

}  // namespace connectorhost
