// connectorhost::announceServing / announceStopping: telling whoever started connector-host that
// it serves, and on which port, and that it is stopping:
//
//   - a line at info level naming the page and the endpoint;
//   - with --port-file FILE, the bound port and a newline written to FILE by a rename, so that a
//     launcher of --http 0 never reads a half-written file;
//   - under systemd (NOTIFY_SOCKET set), "READY=1" and later "STOPPING=1" (sd_notify; nothing
//     is sent without the variable).
//
// Errors: std::runtime_error when the port file cannot be written. Threads: call from one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace connectorhost {

void announceServing(std::uint16_t port, const std::optional<std::string>& portFile);
void announceStopping(int signal);

}  // namespace connectorhost
