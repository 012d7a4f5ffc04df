// connector::common::StringTable: texts (UTF-8) by name, the form in which a client's context
// state keeps a table such as the client properties. No meaningful order. The one declaration of
// the type: the context state accounts the memory of an entry of exactly this type entry by
// entry, so every writer of such an entry names it from here.
#pragma once

#include <string>
#include <unordered_map>

namespace connector::common {

using StringTable = std::unordered_map<std::string, std::string>;

}  // namespace connector::common
