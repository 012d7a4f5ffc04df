#include "tools/connector-host/HostOptions.hpp"

#include <boost/program_options.hpp>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <sstream>

#ifndef CONNECTOR_HOST_VERSION
#define CONNECTOR_HOST_VERSION "unknown"
#endif

namespace connectorhost {
namespace {

namespace po = boost::program_options;

// A value refused with the option's name and what it must be.
struct BadValue {
    std::string message;
};

std::uint64_t integer(const std::string& option, const std::string& text, std::uint64_t lowest,
                      std::uint64_t highest) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        value < lowest || value > highest)
        throw BadValue{"--" + option + " must be an integer from " + std::to_string(lowest) +
                       " to " + std::to_string(highest) + ", not \"" + text + "\""};
    return value;
}

std::chrono::milliseconds seconds(const std::string& option, const std::string& text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value) || value < 0.001 || value > 86400.0 * 365)
        throw BadValue{"--" + option + " must be a number of seconds from 0.001 up, not \"" + text +
                       "\""};
    return std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(value * 1000)));
}

unsigned logLevel(const std::string& text) {
    if (text == "debug") return 1;
    if (text == "info") return 8;
    if (text == "warning") return 256;
    if (text == "error") return 1024;
    try {
        return static_cast<unsigned>(integer("log-level", text, 0, UINT_MAX - 1));
    } catch (const BadValue&) {
        throw BadValue{"--log-level must be debug, info, warning, error or an integer from 0 to " +
                       std::to_string(UINT_MAX - 1) + ", not \"" + text + "\""};
    }
}

constexpr std::uint64_t LARGEST_SIZE = std::uint64_t{1} << 40;

po::options_description describeOptions() {
    const Limits limits;
    const HttpOptions http;
    const connector::http::SessionLimits sessions;
    const auto text = [](const char* name) { return po::value<std::string>()->value_name(name); };
    const auto number = [](auto value) { return " (default " + std::to_string(value) + ")"; };
    const auto secondsOf = [](auto duration) {
        std::ostringstream out;
        out << " (default " << std::chrono::duration<double>(duration).count() << " s)";
        return out.str();
    };

    po::options_description options("Usage: connector-host [options] [SESSION_FILE]\nOptions");
    auto add = options.add_options();
    add("help,h", "show this help");
    add("version", "print the version");
    add("engine", text("FILE"), "engine table (JSON) instead of the built-in one");
    add("max-engine-bytes", text("N"),
        ("largest engine table, in bytes" + number(HostOptions().maxEngineBytes)).c_str());
    add("log-level", text("LEVEL"),
        "diagnostic lines of this level and above to stderr: debug, info (8: progress), "
        "warning (256: notices), error, or a number");
    add("max-bytes", text("N"),
        ("largest line or body, in bytes" + number(limits.maxBytes)).c_str());
    add("max-values", text("N"),
        ("most JSON values in one input" + number(limits.maxValues)).c_str());
    add("max-batch", text("N"),
        ("most messages in one ContainerRequest" + number(limits.maxBatchMessages)).c_str());
    add("max-features", text("N"),
        ("most feature names in one EnabledFeatures" + number(limits.maxFeatures)).c_str());
    add("max-answer-bytes", text("N"),
        ("largest answer, in bytes" + number(limits.maxAnswerBytes)).c_str());
    add("session-idle", text("SECONDS"),
        ("seconds an unused session is kept" + secondsOf(sessions.idleTimeout)).c_str());
    add("session-budget", text("BYTES"),
        ("bytes all sessions may hold; the least recently used go first" +
         number(sessions.memoryBudget))
            .c_str());
    add("http", text("PORT"), "serve POST /messages on 127.0.0.1:PORT until SIGINT or SIGTERM");
    add("max-connections", text("N"),
        ("HTTP: most connections open at once" + number(http.maxConnections)).c_str());
    add("workers", text("N"),
        ("HTTP: threads that process requests" + number(http.workers)).c_str());
    add("request-timeout", text("SECONDS"),
        ("HTTP: seconds for a request's head and body" + secondsOf(http.requestTimeout)).c_str());
    add("idle-timeout", text("SECONDS"),
        ("HTTP: seconds a kept-alive connection may stay idle" + secondsOf(http.idleTimeout))
            .c_str());
    add("drain-timeout", text("SECONDS"),
        ("HTTP: seconds a stop waits for requests in flight" + secondsOf(http.drainTimeout))
            .c_str());
    add("allow-origin", po::value<std::vector<std::string>>()->value_name("ORIGIN"),
        "HTTP: a web origin allowed to send requests (repeatable; none by default)");
    add("token-file", text("FILE"),
        "HTTP: file holding a token that requests must send as \"Authorization: Bearer TOKEN\"");
    return options;
}

const char* const HTTP_ONLY[] = {"max-connections", "workers",       "request-timeout",
                                 "idle-timeout",    "drain-timeout", "allow-origin",
                                 "token-file"};

HostOptions interpret(const po::variables_map& given) {
    HostOptions options;
    const auto has = [&](const char* name) { return given.count(name) != 0; };
    const auto text = [&](const char* name) { return given[name].as<std::string>(); };
    const auto size = [&](const char* name, std::size_t& target, std::uint64_t lowest) {
        if (has(name))
            target = static_cast<std::size_t>(integer(name, text(name), lowest, LARGEST_SIZE));
    };

    options.http = has("http");
    if (options.http && has("session"))
        throw BadValue{"--http serves HTTP and reads no SESSION_FILE (\"" + text("session") +
                       "\")"};
    if (!options.http) {
        for (const char* name : HTTP_ONLY)
            if (has(name)) throw BadValue{"--" + std::string(name) + " applies only with --http"};
    }
    if (has("session")) options.sessionFile = text("session");
    if (has("engine")) options.engineFile = text("engine");
    if (has("log-level")) options.logLevel = logLevel(text("log-level"));

    size("max-engine-bytes", options.maxEngineBytes, 1);
    size("max-bytes", options.limits.maxBytes, 1);
    size("max-values", options.limits.maxValues, 1);
    size("max-batch", options.limits.maxBatchMessages, 1);
    size("max-features", options.limits.maxFeatures, 1);
    size("max-answer-bytes", options.limits.maxAnswerBytes, 1);
    size("session-budget", options.sessions.memoryBudget, 0);
    if (has("session-idle"))
        options.sessions.idleTimeout = seconds("session-idle", text("session-idle"));

    HttpOptions& http = options.httpOptions;
    if (options.http)
        http.port = static_cast<std::uint16_t>(integer("http", text("http"), 0, 65535));
    if (has("max-connections"))
        http.maxConnections = integer("max-connections", text("max-connections"), 1, 100000);
    if (has("workers")) http.workers = integer("workers", text("workers"), 1, 256);
    if (has("request-timeout"))
        http.requestTimeout = seconds("request-timeout", text("request-timeout"));
    if (has("idle-timeout")) http.idleTimeout = seconds("idle-timeout", text("idle-timeout"));
    if (has("drain-timeout")) http.drainTimeout = seconds("drain-timeout", text("drain-timeout"));
    if (has("allow-origin"))
        http.allowedOrigins = given["allow-origin"].as<std::vector<std::string>>();
    if (has("token-file")) options.tokenFile = text("token-file");
    return options;
}

}  // namespace

CommandLine parseOptions(int argc, const char* const* argv) {
    const po::options_description options = describeOptions();
    po::options_description hidden;
    hidden.add_options()("session", po::value<std::string>());
    po::positional_options_description positional;
    positional.add("session", 1);
    po::options_description all;
    all.add(options).add(hidden);

    po::variables_map given;
    try {
        po::store(po::command_line_parser(argc, argv).options(all).positional(positional).run(),
                  given);
        po::notify(given);
        if (given.count("help")) {
            std::ostringstream help;
            help << "connector-host: serves connector JSON envelopes to the information plug-in.\n"
                 << "Reads one envelope per line from SESSION_FILE or stdin and writes one answer\n"
                 << "line per envelope to stdout, or serves them over HTTP with --http.\n\n"
                 << options;
            return PrintAndExit{help.str()};
        }
        if (given.count("version"))
            return PrintAndExit{"connector-host " CONNECTOR_HOST_VERSION "\n"};
        return interpret(given);
    } catch (const BadValue& bad) {
        return UsageError{bad.message};
    } catch (const std::exception& error) {
        return UsageError{error.what()};
    }
}

}  // namespace connectorhost
