// connectorhost::log_level and LogFormat: how much connector-host logs, and in which form
// (HostLog.hpp). The levels are the numbers of the host's diagnostic logger, which the plug-in
// writes too: 8 for its progress lines, 256 for its notices. Plain values.
#pragma once

namespace connectorhost {

namespace log_level {
inline constexpr unsigned DEBUG = 1;
inline constexpr unsigned INFO = 8;
inline constexpr unsigned WARNING = 256;
inline constexpr unsigned ERROR = 1024;
}  // namespace log_level

enum class LogFormat { Text, Json };

}  // namespace connectorhost
