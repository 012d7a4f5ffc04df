// What an operator reads of the host: the figures of Metrics, the access log's lines and the one
// escaping rule of every log line.
#include <Poco/JSON/Parser.h>
#include <gtest/gtest.h>

#include <thread>

#include "tools/connector-host/core/AccessLog.hpp"
#include "tools/connector-host/core/HostLog.hpp"
#include "tools/connector-host/core/Metrics.hpp"

namespace connectorhost {
namespace {

using namespace std::chrono_literals;

bool holds(const std::string& text, const std::string& line) {
    return text.find("\n" + line + "\n") != std::string::npos;
}

TEST(RequestLogTest, MetricsAddUpWhatEveryThreadCounted) {
    Metrics metrics;
    metrics.nameTypes({"unknown", "GetUserHomeDir", "EnabledFeatures"});
    const auto serve = [&] {
        for (int i = 0; i < 1000; ++i) metrics.countRequest(1, std::nullopt, 300us, 10, 20);
    };
    std::thread other(serve);
    serve();
    other.join();
    metrics.countRequest(2, ErrorKind::RuntimeError, 20ms, 5, 7);
    metrics.countRequest(99, ErrorKind::ParseError, 1us, 3, 4);  // no such type: "unknown"
    metrics.countHttp(431, ErrorKind::HeadTooLarge, 9000, 100);
    metrics.countStatus(200);
    metrics.countEvaluation(EvaluationOutcome::Started);
    metrics.countReclaim();
    const std::string text = "\n" + metrics.exposition({3, 1, 2});
    for (
        const char* line :
        {R"(connector_host_requests_total{type="GetUserHomeDir",outcome="answered"} 2000)",
         R"(connector_host_requests_total{type="EnabledFeatures",outcome="error"} 1)",
         R"(connector_host_requests_total{type="unknown",outcome="error"} 1)",
         R"(connector_host_request_duration_seconds_bucket{type="GetUserHomeDir",le="0.000250"} 0)",
         R"(connector_host_request_duration_seconds_bucket{type="GetUserHomeDir",le="0.000500"} 2000)",
         R"(connector_host_request_duration_seconds_bucket{type="EnabledFeatures",le="0.010000"} 0)",
         R"(connector_host_request_duration_seconds_bucket{type="EnabledFeatures",le="+Inf"} 1)",
         R"(connector_host_request_duration_seconds_sum{type="GetUserHomeDir"} 0.600000)",
         R"(connector_host_errors_total{kind="too_large",status="431"} 1)",
         R"(connector_host_errors_total{kind="too_large",status="413"} 0)",
         R"(connector_host_http_responses_total{status="431"} 1)",
         R"(connector_host_http_responses_total{status="200"} 1)",
         "connector_host_received_bytes_total 29008", "connector_host_sent_bytes_total 40111",
         R"(connector_host_engine_evaluations_total{outcome="started"} 1)",
         "connector_host_connections_reclaimed_total 1", "connector_host_connections_open 3",
         "connector_host_connections_idle 1", "connector_host_sessions 2"}) {
        SCOPED_TRACE(line);
        EXPECT_TRUE(holds(text, line)) << text;
    }
    EXPECT_EQ(metrics.summary(),
              "served 2002 requests: 2000 answered, 2 errors (parse_error 1, runtime_error 1, "
              "too_large 1); 29008 bytes in, 40111 bytes out; 1 engine evaluations");
}

TEST(RequestLogTest, AnAccessLineIsOneJsonObjectWhateverTheClientSent) {
    AccessRecord record;
    record.time = std::chrono::system_clock::time_point(1234ms);
    record.peer = "127.0.0.1:5555";
    record.method = "POST";
    record.path = "/messages";
    const std::string session = "s\n\"1\\\xFF" + std::string(300, 'x');
    record.session = session;
    record.type = "EnabledFeatures";
    record.status = 200;
    record.bytesIn = 12;
    record.duration = 61us;
    const std::string line = accessLine(record);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const auto parsed = Poco::JSON::Parser().parse(line).extract<Poco::JSON::Object::Ptr>();
    EXPECT_EQ(parsed->getValue<std::string>("time"), "1970-01-01T00:00:01.234Z");
    EXPECT_EQ(parsed->getValue<std::string>("session"),
              "s\\x0A\"1\\x5C\\xFF" + std::string(200 - 6, 'x') + "...");
    EXPECT_EQ(parsed->getValue<int>("status"), 200);
    EXPECT_TRUE(parsed->isNull("error"));
    EXPECT_EQ(parsed->getValue<int>("durationUs"), 61);

    AccessRecord stdinLine;  // no method, path or status; what is unknown is null
    stdinLine.peer = "stdin";
    stdinLine.error = ErrorKind::ParseError;
    const std::string text = accessLine(stdinLine);
    EXPECT_NE(text.find(R"("peer":"stdin","session":null,"type":null,"error":"parse_error")"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("method"), std::string::npos);
}

TEST(RequestLogTest, EveryLogLineEscapesControlsBackslashesAndBytesThatAreNotUtf8) {
    EXPECT_EQ(escapeLogText("caf\xC3\xA9 \xE2\x82\xAC"), "caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(escapeLogText("a\nb\r\x1B[31m\x7F\\"), "a\\x0Ab\\x0D\\x1B[31m\\x7F\\x5C");
    EXPECT_EQ(escapeLogText("\xFF\xC3(\xC2\x85"), "\\xFF\\xC3(\\xC2\\x85");  // C1 control too
    EXPECT_STREQ(levelName(log_level::INFO - 1), "debug");
    EXPECT_STREQ(levelName(log_level::WARNING - 1), "info");
    EXPECT_STREQ(levelName(log_level::WARNING), "warning");
    EXPECT_STREQ(levelName(log_level::ERROR), "error");
}

}  // namespace
}  // namespace connectorhost
