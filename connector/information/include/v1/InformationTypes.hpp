// Shared value types of the information messages and services.
#pragma once

#include <string>
#include <unordered_map>

namespace connector::information::v1 {

// StringTable: property name to value (UTF-8). No meaningful order.
using StringTable = std::unordered_map<std::string, std::string>;
// FlagTable: feature-flag name to enabled. No meaningful order.
using FlagTable = std::unordered_map<std::string, bool>;

}  // namespace connector::information::v1
