// connector-host: runs the information plug-in the way the Quorix framework does, and serves JSON
// envelopes from stdin, a session file or HTTP. Answers go to stdout (one line each, in input
// order); diagnostics go to stderr.
//
// Exit status: 0 after the input ended or a clean stop on SIGINT/SIGTERM; 1 when the host could
// not start or could not write an answer; 2 for a bad command line; 3 when a second stop signal
// cut the drain short.
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <thread>

#include "host/log/DiagnosticLogger.hpp"
#include "tools/connector-host/HostFiles.hpp"
#include "tools/connector-host/HostOptions.hpp"
#include "tools/connector-host/core/EngineTable.hpp"
#include "tools/connector-host/core/EnvelopeProcessor.hpp"
#include "tools/connector-host/core/HostLog.hpp"
#include "tools/connector-host/core/HostRuntime.hpp"
#include "tools/connector-host/core/LineReader.hpp"
#include "tools/connector-host/http/HttpFrontEnd.hpp"

namespace {

using namespace connectorhost;

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

int serveLines(std::istream& in, EnvelopeProcessor& processor) {
    LineReader reader(in, processor.limits.maxBytes);
    LineReader::Line line;
    while (reader.next(line)) {
        if (!line.tooLong && isBlank(line.text)) continue;
        writeAnswer(line.tooLong ? processor.tooLarge(line.size).json
                                 : processor.process(line.text).json);
    }
    return 0;
}

// The stop signals: blocked in every thread from the start of an HTTP run (before the engine or
// the server starts a thread), so that only the sigwait calls below take them.
sigset_t stopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

// The stop signals and SIGUSR1, with which the host wakes its own second-signal watcher.
sigset_t watchedSignals() {
    sigset_t signals = stopSignals();
    sigaddset(&signals, SIGUSR1);
    return signals;
}

// The first stop signal drains: requests in hand are answered (up to --drain-timeout). A second
// one stops at once: what is still in hand is answered 503 "stopping", and the exit status is 3.
int serveHttp(HostRuntime& runtime, EnvelopeProcessor& processor, const HttpOptions& options) {
    HttpFrontEnd server(processor, options);
    // Requests still being processed at the drain deadline return promptly once the services
    // have stopped; they are then answered 503 "stopping".
    server.onDrainDeadline([&runtime] { runtime.stop(); });
    server.start();
    logLine("serving POST http://127.0.0.1:" + std::to_string(server.port()) + "/messages");
    const sigset_t signals = stopSignals();
    int received = 0;
    sigwait(&signals, &received);
    logLine("stopping on signal " + std::to_string(received));
    server.beginStop();

    // SIGUSR1 wakes the watcher when the stop ends without a second signal (one sent from
    // outside before then is ignored).
    const sigset_t watched = watchedSignals();
    std::atomic<bool> atOnce{false}, ended{false};
    std::thread watcher([&] {
        int second = SIGUSR1;
        while (second == SIGUSR1) {
            if (sigwait(&watched, &second) != 0 || (second == SIGUSR1 && ended)) return;
        }
        atOnce = true;
        logLine("stopping at once on a second signal " + std::to_string(second));
        server.stopNow();
    });
    // In order: no new requests, requests in hand answered (or refused at the drain deadline),
    // then the services stop.
    server.waitStopped();
    runtime.stop();
    server.join();
    ended = true;
    pthread_kill(watcher.native_handle(), SIGUSR1);
    watcher.join();
    logLine("stopped");
    return atOnce ? 3 : 0;
}

int run(HostOptions options) {
    if (options.logLevel) {
        foundation::log::add_stderr_sink();
        foundation::log::set_minimum_level(*options.logLevel);
    }
    const std::string table = options.engineFile
                                  ? readEngineTable(*options.engineFile, options.maxEngineBytes)
                                  : std::string(DEFAULT_ENGINE_TABLE);
    if (options.tokenFile) options.httpOptions.token = readTokenFile(*options.tokenFile);
    if (options.http) {
        const sigset_t signals = watchedSignals();
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    }

    HostRuntime runtime(makeEngine(table), options.sessions);
    EnvelopeProcessor processor(runtime, options.limits);
    if (options.http) return serveHttp(runtime, processor, options.httpOptions);
    if (options.sessionFile) {
        std::ifstream session(*options.sessionFile, std::ios::binary);
        if (!session) throw std::runtime_error("cannot read " + *options.sessionFile);
        return serveLines(session, processor);
    }
    return serveLines(std::cin, processor);
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
    try {
        return run(std::get<HostOptions>(std::move(commandLine)));
    } catch (const std::exception& error) {
        std::cerr << "connector-host: " << error.what() << std::endl;
        return 1;
    }
}
