// Shared value types of the information messages and services.
#pragma once

#include <string>
#include <unordered_map>

#include "connector/framework/StringTable.hpp"

namespace connector::information::v1 {

// StringTable: property name to value (UTF-8), the framework's own table type, so that a table
// the plug-in stores in a context state is the one the framework expects.
using connector::common::StringTable;
// FlagTable: feature-flag name to enabled. No meaningful order.
using FlagTable = std::unordered_map<std::string, bool>;

}  // namespace connector::information::v1
