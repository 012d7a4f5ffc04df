// connector-host: runs the information plug-in the way the Quorix framework does, and serves JSON
// envelopes from stdin, a session file or HTTP. Answers go to stdout (one line each, in input
// order); diagnostics go to stderr; what was served is counted (GET /metrics, or a summary line
// at the end of a run on stdin) and, with --access-log, written one line per request.
//
// Exit status: 0 after the input ended or a clean stop on SIGINT/SIGTERM; 1 when the host could
// not start or could not write an answer; 2 for a bad command line; 3 when a second stop signal
// cut the drain short.
#include <signal.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>

#include "tools/connector-host/HostFiles.hpp"
#include "tools/connector-host/HostOptions.hpp"
#include "tools/connector-host/Readiness.hpp"
#include "tools/connector-host/SignalWatcher.hpp"
#include "tools/connector-host/core/EngineTable.hpp"
#include "tools/connector-host/core/EnvelopeProcessor.hpp"
#include "tools/connector-host/core/HostLog.hpp"
#include "tools/connector-host/core/HostRuntime.hpp"
#include "tools/connector-host/core/LineReader.hpp"
#include "tools/connector-host/core/RequestLog.hpp"
#include "tools/connector-host/http/HttpFrontEnd.hpp"

namespace {

using namespace connectorhost;
using Clock = std::chrono::steady_clock;

// An answer that could not be written: the host stops, since every later answer would be lost.
struct OutputFailed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

bool isBlank(const std::string& text) {
    return text.find_first_not_of(" \t\r") == std::string::npos;
}

void writeAnswer(const std::string& json) {
    errno = 0;
    std::cout << json << '\n' << std::flush;
    if (!std::cout)
        throw OutputFailed(std::string("cannot write an answer to stdout: ") +
                           (errno ? std::strerror(errno) : "the stream failed"));
}

int serveLines(std::istream& in, EnvelopeProcessor& processor, RequestLog& requests) {
    LineReader reader(in, processor.limits.maxBytes);
    LineReader::Line line;
    while (reader.next(line)) {
        if (!line.tooLong && isBlank(line.text)) continue;
        const auto began = Clock::now();
        AccessRecord record;
        record.time = std::chrono::system_clock::now();
        record.peer = "stdin";
        Answer answer = line.tooLong ? processor.tooLarge(line.size) : processor.process(line.text);
        writeAnswer(answer.json);
        record.session = answer.session;
        record.error = answer.error;
        record.bytesIn = line.size;
        record.bytesOut = answer.json.size() + 1;
        record.duration =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - began);
        requests.served(record, answer.type);
    }
    logLine(log_level::INFO, requests.metrics.summary());
    return 0;
}

// The first stop signal drains: requests in hand are answered (up to --drain-timeout). A second
// one stops at once: what is still in hand is answered 503 "stopping", and the exit status is 3.
int serveHttp(HostRuntime& runtime, EnvelopeProcessor& processor, RequestLog& requests,
              const HostOptions& options, SignalWatcher& signals) {
    HttpFrontEnd server(processor, requests, options.httpOptions);
    // Requests still being processed at the drain deadline return promptly once the services
    // have stopped; they are then answered 503 "stopping".
    server.onDrainDeadline([&runtime] { runtime.stop(); });
    server.start();
    announceServing(server.port(), options.portFile);
    announceStopping(signals.waitForStop());
    // The watcher outlives the server: its second-stop action is withdrawn (waiting for one under
    // way) before the server ends, however serveHttp is left.
    struct SecondStop {
        SignalWatcher& signals;
        ~SecondStop() { signals.onSecondStop(nullptr); }
    } secondStop{signals};
    signals.onSecondStop([&server] { server.stopNow(); });
    server.beginStop();
    // In order: no new requests, requests in hand answered (or refused at the drain deadline),
    // then the services stop.
    server.waitStopped();
    runtime.stop();
    server.join();
    logLine(log_level::INFO, "stopped");
    return signals.stoppedTwice() ? 3 : 0;
}

int run(const HostOptions& options) {
    const std::string table = options.engineFile
                                  ? readEngineTable(*options.engineFile, options.maxEngineBytes)
                                  : std::string(DEFAULT_ENGINE_TABLE);
    HttpOptions httpOptions = options.httpOptions;
    if (options.tokenFile) httpOptions.token = readTokenFile(*options.tokenFile);
    const bool fromFile = options.sessionFile && *options.sessionFile != "-";
    if (fromFile) checkSessionFile(*options.sessionFile);
    // Before any thread starts (the engine's, the server's), so that only the watcher takes them.
    SignalWatcher::blockSignals(options.http);

    std::unique_ptr<AccessLog> accessLog;
    if (options.accessLog) accessLog = std::make_unique<AccessLog>(*options.accessLog);
    Metrics metrics;
    HostRuntime runtime(makeEngine(table, &metrics), options.sessions);
    metrics.nameTypes(runtime.messageTypes());
    RequestLog requests(metrics, accessLog.get());
    EnvelopeProcessor processor(runtime, options.limits);
    SignalWatcher signals(options.http, [&accessLog] {
        if (accessLog) accessLog->reopen();
    });
    if (options.http) {
        HostOptions served = options;
        served.httpOptions = httpOptions;
        return serveHttp(runtime, processor, requests, served, signals);
    }
    if (!fromFile) return serveLines(std::cin, processor, requests);
    std::ifstream session(*options.sessionFile, std::ios::binary);
    if (!session)
        throw std::runtime_error("cannot read session file " + *options.sessionFile + ": " +
                                 std::strerror(errno));
    return serveLines(session, processor, requests);
}

}  // namespace

int main(int argc, char** argv) {
    // A closed stdout or client shows as a failed write, which is reported, not as a signal.
    signal(SIGPIPE, SIG_IGN);

    CommandLine commandLine = parseOptions(argc, argv);
    if (auto* error = std::get_if<UsageError>(&commandLine)) {
        std::cerr << "connector-host: " << error->message << " (see connector-host --help)"
                  << std::endl;
        return 2;
    }
    if (auto* print = std::get_if<PrintAndExit>(&commandLine)) {
        std::cout << print->text << std::flush;
        return std::cout ? 0 : 1;
    }
    const HostOptions& options = std::get<HostOptions>(commandLine);
    configureLogging(options.logFormat, options.logLevel);
    try {
        return run(options);
    } catch (const std::exception& error) {
        logLine(log_level::ERROR, error.what());
        return 1;
    }
}
