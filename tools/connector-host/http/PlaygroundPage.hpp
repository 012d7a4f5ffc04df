// connectorhost::playground_page: the playground page's texts, embedded at build time from
// tools/connector-host/web (a generated source defines them). kHtml is the whole page; kStyle and
// kScript are the exact texts of its one <style> element and its one module <script>, from which
// the page's Content-Security-Policy hashes are made. Constant data: any thread.
#pragma once

#include <string_view>

namespace connectorhost::playground_page {

extern const std::string_view kHtml;
extern const std::string_view kStyle;
extern const std::string_view kScript;

}  // namespace connectorhost::playground_page
