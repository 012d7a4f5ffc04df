#include "tools/connector-host/HostOptions.hpp"

#include <algorithm>
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

// A number of seconds: plain decimal digits with an optional fraction ("0.5", "10"), as every
// option's numbers are written: no sign, exponent or letters.
std::chrono::milliseconds seconds(const std::string& option, const std::string& text) {
    const std::size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    const std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    const auto digits = [](const std::string& part) {
        return std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    double value = -1;
    if (!whole.empty() && digits(whole) && digits(fraction) && whole.size() <= 9 &&
        (point == std::string::npos || !fraction.empty()))
        value = std::stod(whole + "." + (fraction.empty() ? "0" : fraction.substr(0, 6)));
    if (value < 0.001 || value > 86400.0 * 365)
        throw BadValue{"--" + option +
                       " must be a number of seconds from 0.001 to 31536000, not \"" + text + "\""};
    return std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(value * 1000)));
}

// Whether `host` is a lower-case DNS name or IPv4 address (labels of letters, digits and inner
// hyphens, joined by dots), or an IPv6 address in brackets.
bool isHost(const std::string& host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        return host.find_first_not_of("0123456789abcdef:.", 1) == host.size() - 1;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(host.find('.', start), host.size());
        const std::string label = host.substr(start, end - start);
        if (label.empty() || label.front() == '-' || label.back() == '-' ||
            label.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-") != std::string::npos)
            return false;
        if (end == host.size()) return true;
        start = end + 1;
    }
}

// An origin as a browser sends it: scheme://host[:port], nothing before or after.
std::string origin(const std::string& text) {
    const std::size_t separator = text.find("://");
    const std::string scheme = text.substr(0, separator);
    std::string host = separator == std::string::npos ? "" : text.substr(separator + 3);
    const std::size_t colon = host.rfind(':');
    bool valid = scheme == "http" || scheme == "https";
    if (colon != std::string::npos && host.find(']', colon) == std::string::npos) {
        const std::string port = host.substr(colon + 1);
        const bool digits = !port.empty() && port.size() <= 5 &&
                            port.find_first_not_of("0123456789") == std::string::npos;
        valid = valid && digits && std::stoul(port) >= 1 && std::stoul(port) <= 65535;
        host.resize(colon);
    }
    if (!valid || !isHost(host))
        throw BadValue{
            "--allow-origin must be an origin as browsers send it, scheme://host or "
            "scheme://host:port in lower case (http://localhost:3000), not \"" +
            text + "\""};
    return text;
}

unsigned logLevel(const std::string& text) {
    if (text == "debug") return log_level::DEBUG;
    if (text == "info") return log_level::INFO;
    if (text == "warning") return log_level::WARNING;
    if (text == "error") return log_level::ERROR;
    try {
        return static_cast<unsigned>(integer("log-level", text, 0, UINT_MAX - 1));
    } catch (const BadValue&) {
        throw BadValue{"--log-level must be debug, info, warning, error or an integer from 0 to " +
                       std::to_string(UINT_MAX - 1) + ", not \"" + text + "\""};
    }
}

constexpr std::uint64_t LARGEST_SIZE = std::uint64_t{1} << 40;

std::string defaultOf(std::uint64_t value) {
    return " (default " + std::to_string(value) + ")";
}

std::string defaultSeconds(std::chrono::milliseconds duration) {
    std::ostringstream out;
    out << " (default " << std::chrono::duration<double>(duration).count() << " s)";
    return out.str();
}

po::typed_value<std::string>* text(const char* name) {
    return po::value<std::string>()->value_name(name);
}

void describeGeneral(po::options_description& options) {
    const Limits limits;
    const connector::http::SessionLimits sessions;
    auto add = options.add_options();
    add("help,h", "show this help");
    add("version", "print the version");
    add("engine", text("FILE"), "engine table (JSON) instead of the built-in one");
    add("max-engine-bytes", text("N"),
        ("largest engine table, in bytes" + defaultOf(HostOptions().maxEngineBytes)).c_str());
    add("log-level", text("LEVEL"),
        "diagnostic lines of this level and above, the host's and the plug-in's, to stderr: "
        "debug, info (8: progress), warning (256: notices; the default), error, or a number");
    add("log-format", text("FORMAT"),
        "text (the default) or json: one object per line with time, level, source and message");
    add("access-log", text("FILE"),
        "one JSON line per request served to FILE (appended; reopened on SIGHUP), or to stdout "
        "with - (HTTP only: without --http stdout carries the answers)");
    add("max-bytes", text("N"),
        ("largest line or body, in bytes" + defaultOf(limits.maxBytes)).c_str());
    add("max-values", text("N"),
        ("most JSON values in one input" + defaultOf(limits.maxValues)).c_str());
    add("max-batch", text("N"),
        ("most messages in one ContainerRequest" + defaultOf(limits.maxBatchMessages)).c_str());
    add("max-features", text("N"),
        ("most feature names in one EnabledFeatures" + defaultOf(limits.maxFeatures)).c_str());
    add("max-answer-bytes", text("N"),
        ("largest answer, in bytes" + defaultOf(limits.maxAnswerBytes)).c_str());
    add("session-idle", text("SECONDS"),
        ("seconds an unused session is kept" +
         defaultSeconds(
             std::chrono::duration_cast<std::chrono::milliseconds>(sessions.idleTimeout)))
            .c_str());
    add("session-budget", text("BYTES"),
        ("bytes all sessions may hold; the least recently used go first; 0 keeps no session "
         "between requests" +
         defaultOf(sessions.memoryBudget))
            .c_str());
}

void describeHttp(po::options_description& options) {
    const HttpOptions http;
    auto add = options.add_options();
    add("http", text("PORT"),
        "serve the page (GET /), POST /messages, GET /healthz and GET /metrics on "
        "127.0.0.1:PORT until SIGINT or SIGTERM; 0 picks a free port");
    add("port-file", text("FILE"), "HTTP: write the bound port to FILE once serving");
    add("max-connections", text("N"),
        ("HTTP: most connections open at once" + defaultOf(http.maxConnections)).c_str());
    add("workers", text("N"),
        ("HTTP: most requests processed at once; one event loop per CPU, up to N" +
         defaultOf(http.workers))
            .c_str());
    add("request-timeout", text("SECONDS"),
        ("HTTP: seconds for a request's head and body, and without progress in writing an answer" +
         defaultSeconds(http.requestTimeout))
            .c_str());
    add("idle-timeout", text("SECONDS"),
        ("HTTP: seconds a kept-alive connection may stay idle" + defaultSeconds(http.idleTimeout))
            .c_str());
    add("drain-timeout", text("SECONDS"),
        ("HTTP: seconds a stop waits for requests in flight" + defaultSeconds(http.drainTimeout))
            .c_str());
    add("allow-origin", po::value<std::vector<std::string>>()->value_name("ORIGIN"),
        "HTTP: a web origin (scheme://host[:port]) allowed to send requests (repeatable; none "
        "by default)");
    add("token-file", text("FILE"),
        "HTTP: file holding a token that requests must send as \"Authorization: Bearer TOKEN\"");
}

const char* const HTTP_ONLY[] = {"max-connections", "workers",       "request-timeout",
                                 "idle-timeout",    "drain-timeout", "allow-origin",
                                 "token-file",      "port-file"};

using Given = po::variables_map;

bool has(const Given& given, const char* name) {
    return given.count(name) != 0;
}

std::string text(const Given& given, const char* name) {
    return given[name].as<std::string>();
}

void size(const Given& given, const char* name, std::size_t& target, std::uint64_t lowest) {
    if (has(given, name))
        target = static_cast<std::size_t>(integer(name, text(given, name), lowest, LARGEST_SIZE));
}

void interpretGeneral(const Given& given, HostOptions& options) {
    if (has(given, "session")) options.sessionFile = text(given, "session");
    if (has(given, "engine")) options.engineFile = text(given, "engine");
    if (has(given, "log-level")) options.logLevel = logLevel(text(given, "log-level"));
    if (has(given, "log-format")) {
        const std::string format = text(given, "log-format");
        if (format != "text" && format != "json")
            throw BadValue{"--log-format must be text or json, not \"" + format + "\""};
        options.logFormat = format == "json" ? LogFormat::Json : LogFormat::Text;
    }
    if (has(given, "access-log")) {
        options.accessLog = text(given, "access-log");
        if (*options.accessLog == "-" && !options.http)
            throw BadValue{
                "--access-log - writes to stdout, which carries the answers without "
                "--http: name a file"};
    }
    size(given, "max-engine-bytes", options.maxEngineBytes, 1);
    size(given, "max-bytes", options.limits.maxBytes, 1);
    size(given, "max-values", options.limits.maxValues, 1);
    size(given, "max-batch", options.limits.maxBatchMessages, 1);
    size(given, "max-features", options.limits.maxFeatures, 1);
    size(given, "max-answer-bytes", options.limits.maxAnswerBytes, 1);
    size(given, "session-budget", options.sessions.memoryBudget, 0);
    if (has(given, "session-idle"))
        options.sessions.idleTimeout = seconds("session-idle", text(given, "session-idle"));
}

void interpretHttp(const Given& given, HostOptions& options) {
    HttpOptions& http = options.httpOptions;
    http.port = static_cast<std::uint16_t>(integer("http", text(given, "http"), 0, 65535));
    if (has(given, "max-connections"))
        http.maxConnections = integer("max-connections", text(given, "max-connections"), 1, 100000);
    if (has(given, "workers")) http.workers = integer("workers", text(given, "workers"), 1, 256);
    for (auto [name, target] : {std::pair{"request-timeout", &http.requestTimeout},
                                std::pair{"idle-timeout", &http.idleTimeout},
                                std::pair{"drain-timeout", &http.drainTimeout}})
        if (has(given, name)) *target = seconds(name, text(given, name));
    if (has(given, "allow-origin"))
        for (const std::string& allowed : given["allow-origin"].as<std::vector<std::string>>())
            http.allowedOrigins.push_back(origin(allowed));
    if (has(given, "token-file")) options.tokenFile = text(given, "token-file");
    if (has(given, "port-file")) options.portFile = text(given, "port-file");
}

HostOptions interpret(const Given& given) {
    HostOptions options;
    options.http = has(given, "http");
    if (options.http && has(given, "session"))
        throw BadValue{"--http serves HTTP and reads no SESSION_FILE (\"" + text(given, "session") +
                       "\")"};
    if (!options.http)
        for (const char* name : HTTP_ONLY)
            if (has(given, name))
                throw BadValue{"--" + std::string(name) + " applies only with --http"};
    interpretGeneral(given, options);
    if (options.http) interpretHttp(given, options);
    return options;
}

std::string helpText(const po::options_description& general, const po::options_description& http) {
    std::ostringstream help;
    help << "Usage: connector-host [options] [SESSION_FILE]\n"
         << "Serves connector JSON envelopes to the information plug-in: one envelope per line\n"
         << "from SESSION_FILE (- or none: stdin), one answer line each on stdout; or over HTTP\n"
         << "on 127.0.0.1 with --http.\n\n"
         << general << '\n'
         << http << '\n'
         << "Environment:\n"
         << "  QUORIX_CONNECTOR_HOSTING_ENVIRONMENT  the client type's hosting suffix\n"
         << "  NOTIFY_SOCKET                         systemd's: READY=1 and STOPPING=1 are sent\n\n"
         << "Signals: SIGINT or SIGTERM stops (a second one within a drain stops at once;\n"
         << "the same signal again within a second counts once); SIGHUP reopens the access log.\n\n"
         << "Exit status: 0 after the input ended or a clean stop; 1 when the host cannot start\n"
         << "or cannot write an answer; 2 for a bad command line; 3 when a second stop signal\n"
         << "cut the drain short.\n";
    return help.str();
}

}  // namespace

CommandLine parseOptions(int argc, const char* const* argv) {
    po::options_description general("Options");
    describeGeneral(general);
    po::options_description http("HTTP options");
    describeHttp(http);
    po::options_description hidden;
    hidden.add_options()("session", po::value<std::string>());
    po::positional_options_description positional;
    positional.add("session", 1);
    po::options_description all;
    all.add(general).add(http).add(hidden);

    po::variables_map given;
    try {
        po::store(po::command_line_parser(argc, argv).options(all).positional(positional).run(),
                  given);
        po::notify(given);
        if (given.count("help")) return PrintAndExit{helpText(general, http)};
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
