// connectorhost::playground_page: the playground page's texts, embedded at build time from
// tools/connector-host/web (a generated source defines them). HTML is the whole page; STYLE and
// SCRIPT are the exact texts of its one <style> element and its one module <script>, from which
// the page's Content-Security-Policy hashes are made. Constant data: any thread.
#pragma once

#include <string_view>

namespace connectorhost::playground_page {

extern const std::string_view HTML;
extern const std::string_view STYLE;
extern const std::string_view SCRIPT;

}  // namespace connectorhost::playground_page
