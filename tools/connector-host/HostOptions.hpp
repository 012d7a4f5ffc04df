// connectorhost::parseOptions: connector-host's command line, checked whole before anything
// starts. Numbers are refused unless they are plain non-negative decimals in their option's range
// ("--max-bytes -1" is an error, never "no limit"); options that only HTTP serving uses are
// refused without --http, and --http refuses a SESSION_FILE.
//
// Errors: the result says what was wrong in one line; nothing is thrown.
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "connector/framework/SessionLimits.hpp"
#include "tools/connector-host/core/Limits.hpp"
#include "tools/connector-host/core/LogOptions.hpp"
#include "tools/connector-host/http/HttpOptions.hpp"

namespace connectorhost {

struct HostOptions {
    std::optional<std::string> sessionFile;  // envelopes from this file instead of stdin
    std::optional<std::string> engineFile;   // engine table instead of the built-in one
    std::size_t maxEngineBytes = 1 << 20;    // the most an engine table may hold
    unsigned logLevel = log_level::WARNING;  // diagnostic lines of this level and above
    LogFormat logFormat = LogFormat::Text;
    bool http = false;                     // serve HTTP (options below) instead of lines
    std::optional<std::string> tokenFile;  // holds the bearer token HTTP clients must send
    std::optional<std::string> accessLog;  // one line per request to this file ("-": stdout)
    std::optional<std::string> portFile;   // the bound port is written here
    Limits limits;
    connector::http::SessionLimits sessions;
    HttpOptions httpOptions;
};

// What the command line asks for: to run, to print a text (help or version) and stop, or an error.
struct PrintAndExit {
    std::string text;
};
struct UsageError {
    std::string message;
};
using CommandLine = std::variant<HostOptions, PrintAndExit, UsageError>;

[[nodiscard]] CommandLine parseOptions(int argc, const char* const* argv);

}  // namespace connectorhost
