// connectorhost::pageResponse: the answer to a request that judgeRequest gave a Page verdict,
// that is GET or HEAD of / or /index.html on the loopback port (another method is refused with
// 405 by the policy): the playground page, a page that
// announces itself to the host as a browser client and lets one send any envelope. The page is
// one self-contained HTML text (its style and module script inlined, PlaygroundPage.hpp); it
// loads nothing else, and its Content-Security-Policy forbids everything but its own inline style
// and script (by hash) and requests to its own origin.
//
// Threads: pure functions of constant data. Errors: none (allocation failures aside).
#pragma once

#include <string>

#include "tools/connector-host/http/HttpResponses.hpp"

namespace connectorhost {

// pageResponse: 200 with the page (for HEAD its head alone, with the page's Content-Length).
// `keepAlive` is written as the response's Connection.
[[nodiscard]] HttpResponse pageResponse(bool head, bool keepAlive);

// pageSecurityPolicy: the page's Content-Security-Policy header value.
[[nodiscard]] const std::string& pageSecurityPolicy();

}  // namespace connectorhost
