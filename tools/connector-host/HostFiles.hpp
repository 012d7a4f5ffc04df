// connectorhost::readEngineTable / readTokenFile: the files connector-host's command line names,
// read whole and checked before anything starts. Each error is a std::runtime_error whose text
// names the file and says what is wrong with it ("engine table t.json is a directory", the
// system's own reason for a file that cannot be read, or the limit a file is over).
#pragma once

#include <cstddef>
#include <string>

namespace connectorhost {

// readEngineTable: the text of the engine table at `path`, refused when over `maxBytes` (so that
// a table such as /dev/zero cannot take the host's memory).
[[nodiscard]] std::string readEngineTable(const std::string& path, std::size_t maxBytes);

// checkSessionFile: whether a session file can be read, before serving starts (a directory, or
// the system's reason, is an error).
void checkSessionFile(const std::string& path);

// readTokenFile: the bearer token in `path`: the file's text without surrounding white space,
// printable ASCII only, so that it can travel in a header. Like a private key, the file must be
// readable by its owner only: any permission for the group or for others is refused.
[[nodiscard]] std::string readTokenFile(const std::string& path);

}  // namespace connectorhost
