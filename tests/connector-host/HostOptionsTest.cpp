// connector-host's command line: what it accepts, and every refusal in one line.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include <sys/stat.h>

#include <fstream>

#include "../support/Outcomes.hpp"
#include "tools/connector-host/HostFiles.hpp"
#include "tools/connector-host/HostOptions.hpp"

namespace connectorhost {
namespace {

using testsupport::errorText;

// parse: the command line `arguments`, split at spaces ('' is an empty argument, ~ a space
// inside one).
CommandLine parse(const std::string& arguments) {
    std::vector<std::string> words;
    std::istringstream in(arguments);
    for (std::string word; in >> word;) {
        std::replace(word.begin(), word.end(), '~', ' ');
        words.push_back(word == "''" ? "" : word);
    }
    std::vector<const char*> argv{"connector-host"};
    for (const std::string& word : words) argv.push_back(word.c_str());
    return parseOptions(static_cast<int>(argv.size()), argv.data());
}

TEST(HostOptionsTest, ReadsEveryOptionIntoItsPlace) {
    const CommandLine line = parse(
        "--http 0 --max-bytes 10 --max-values 11 --max-batch 1 --max-features 13 "
        "--max-answer-bytes 14 --session-idle 0.5 --session-budget 0 --max-connections 100000 "
        "--workers 256 --request-timeout 0.001 --idle-timeout 2 --drain-timeout 3 "
        "--allow-origin http://a --allow-origin https://[::1]:65535 --token-file t "
        "--log-level warning --log-format json --access-log - --port-file p "
        "--max-engine-bytes 15");
    ASSERT_TRUE(std::holds_alternative<HostOptions>(line));
    const HostOptions& options = std::get<HostOptions>(line);
    EXPECT_TRUE(options.http);
    EXPECT_EQ(options.limits.maxBytes, 10u);
    EXPECT_EQ(options.maxEngineBytes, 15u);
    EXPECT_EQ(options.limits.maxValues, 11u);
    EXPECT_EQ(options.limits.maxBatchMessages, 1u);
    EXPECT_EQ(options.limits.maxFeatures, 13u);
    EXPECT_EQ(options.limits.maxAnswerBytes, 14u);
    EXPECT_EQ(options.sessions.idleTimeout, std::chrono::milliseconds(500));
    EXPECT_EQ(options.sessions.memoryBudget, 0u);
    EXPECT_EQ(options.httpOptions.maxConnections, 100000u);
    EXPECT_EQ(options.httpOptions.workers, 256u);
    EXPECT_EQ(options.httpOptions.requestTimeout, std::chrono::milliseconds(1));
    EXPECT_EQ(options.httpOptions.idleTimeout, std::chrono::seconds(2));
    EXPECT_EQ(options.httpOptions.drainTimeout, std::chrono::seconds(3));
    EXPECT_EQ(options.httpOptions.allowedOrigins,
              (std::vector<std::string>{"http://a", "https://[::1]:65535"}));
    EXPECT_EQ(options.logFormat, LogFormat::Json);
    EXPECT_EQ(options.accessLog, "-");
    EXPECT_EQ(options.portFile, "p");
    EXPECT_EQ(options.tokenFile, "t");
    EXPECT_EQ(options.logLevel, 256u);
    EXPECT_TRUE(std::holds_alternative<PrintAndExit>(parse("--version")));
    EXPECT_TRUE(std::holds_alternative<HostOptions>(parse("session.jsonl")));
}

TEST(HostOptionsTest, RefusesEachBadCommandLineWithItsReason) {
    const auto expectRefused = [](const std::string& arguments, const std::string& reason) {
        SCOPED_TRACE(arguments);
        const CommandLine line = parse(arguments);
        ASSERT_TRUE(std::holds_alternative<UsageError>(line));
        EXPECT_EQ(std::get<UsageError>(line).message.rfind(reason, 0), 0u)
            << std::get<UsageError>(line).message;
    };
    // Values of one option, each refused with the same reason.
    struct Values {
        const char* option;
        const char* reason;
        std::vector<const char*> values;
    };
    const Values values[] = {
        {"--max-bytes", "--max-bytes must be an integer from 1", {"-1", "1099511627777"}},
        {"--session-idle",
         "--session-idle must be a number of seconds",
         {"1e1", "1.", ".5", "0x10", "nan", "31536001"}},
        {"--http 0 --allow-origin",
         "--allow-origin must be an origin",
         {"*", "http://a/", "localhost:3000", "HTTP://a", "ftp://a", "http://a:0", "http://a:65536",
          "http://user@a", "http://-a.b", "http://a..b", "http://a:", "http://[::1"}},
    };
    for (const Values& group : values)
        for (const char* value : group.values)
            expectRefused(std::string(group.option) + " " + value, group.reason);
    const std::pair<const char*, const char*> cases[] = {
        {"--max-bytes 0", "--max-bytes must be an integer from 1 to 1099511627776, not \"0\""},
        {"--max-values 12k", "--max-values must be an integer"},
        {"--max-batch ~5", "--max-batch must be an integer"},
        {"--max-features ''", "--max-features must be an integer"},
        {"--max-answer-bytes +5", "--max-answer-bytes must be an integer"},
        {"--session-budget x", "--session-budget must be an integer from 0"},
        {"--session-idle 0.0009",
         "--session-idle must be a number of seconds from 0.001 to 31536000"},
        {"--http 65536", "--http must be an integer from 0 to 65535"},
        {"--http 0 --max-connections 0", "--max-connections must be an integer from 1 to 100000"},
        {"--http 0 --max-connections 100001",
         "--max-connections must be an integer from 1 to 100000"},
        {"--http 0 --workers 257", "--workers must be an integer from 1 to 256"},
        {"--http 0 --request-timeout 0", "--request-timeout must be a number"},
        {"--http 0 --idle-timeout -1", "--idle-timeout must be a number"},
        {"--http 0 --drain-timeout 1s", "--drain-timeout must be a number"},
        {"--log-level loud", "--log-level must be debug, info, warning, error or an integer"},
        {"--workers 2", "--workers applies only with --http"},
        {"--token-file t", "--token-file applies only with --http"},
        {"--allow-origin http://a", "--allow-origin applies only with --http"},
        {"--http 0 session.jsonl", "--http serves HTTP and reads no SESSION_FILE"},
        {"--port-file p", "--port-file applies only with --http"},
        {"--access-log -", "--access-log - writes to stdout, which carries the answers"},
        {"--log-format xml", "--log-format must be text or json, not \"xml\""},
        {"--http 0 --allow-origin null", "--allow-origin must be an origin as browsers send it"},
        {"a.jsonl b.jsonl", "too many positional options"},
        {"--no-such-option", "unrecognised option '--no-such-option'"},
        {"--http", "the required argument for option '--http' is missing"},
    };
    for (const auto& [arguments, reason] : cases) expectRefused(arguments, reason);
}

// A file of `text` with permissions `mode` in the test's temporary folder.
std::string fileOf(const std::string& name, const std::string& text, mode_t mode = 0600) {
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    ::chmod(path.c_str(), mode);
    return path;
}

TEST(HostFilesTest, AnEngineTableIsReadWithinItsLimitAndATokenOnlyFromAPrivateFile) {
    const std::string table = fileOf("table.json", std::string(100, ' '));
    EXPECT_EQ(readEngineTable(table, 100).size(), 100u);
    EXPECT_EQ(
        errorText([&] { (void)readEngineTable(table, 99); }),
        "engine table " + table + " is larger than the limit of 99 bytes (--max-engine-bytes)");
    EXPECT_EQ(errorText([] { (void)readEngineTable("/dev/zero", 1000); }),
              "engine table /dev/zero is larger than the limit of 1000 bytes (--max-engine-bytes)");
    EXPECT_EQ(errorText([] { (void)readEngineTable("/", 1000); }), "engine table / is a directory");
    EXPECT_EQ(errorText([] { (void)readEngineTable("/no/such/table", 1000); }),
              "cannot read engine table /no/such/table: No such file or directory");

    EXPECT_EQ(readTokenFile(fileOf("token", "  s3cret \n")), "s3cret");
    EXPECT_EQ(readTokenFile(fileOf("token", "s3cret", 0400)), "s3cret");
    // Any permission of the group or of others is refused, not only reading by others.
    const std::tuple<const char*, mode_t, const char*> refused[] = {
        {"s3cret", 0640, "is open to other users (mode 0640)"},
        {"s3cret", 0604, "is open to other users (mode 0604)"},
        {"s3cret", 0620, "is open to other users (mode 0620)"},
        {"s3cret", 0602, "is open to other users (mode 0602)"},
        {" \n", 0600, "is empty"},
        {"s3\xC3\xA9", 0600, "must hold one token of printable ASCII characters"},
    };
    for (const auto& [text, mode, reason] : refused) {
        SCOPED_TRACE(reason);
        const std::string token = fileOf("token", text, mode);
        const std::string error = errorText([&] { (void)readTokenFile(token); });
        EXPECT_EQ(error.rfind("token file " + token + " " + reason, 0), 0u) << error;
    }
}

}  // namespace
}  // namespace connectorhost
