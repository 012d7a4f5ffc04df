// connector-host: runs the information plug-in the way the Quorix framework does, and serves JSON
// envelopes from stdin, a session file or HTTP. Answers go to stdout (one line each, in input
// order); diagnostics go to stderr.
//
// Exit status: 0 after the input ended or a clean stop on SIGINT/SIGTERM; 1 when the host could
// not start or could not write an answer; 2 for a bad command line.
#include <signal.h>

#include <boost/algorithm/string/trim.hpp>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "host/log/DiagnosticLogger.hpp"
#include "tools/connector-host/EngineTable.hpp"
#include "tools/connector-host/EnvelopeProcessor.hpp"
#include "tools/connector-host/HostOptions.hpp"
#include "tools/connector-host/HostRuntime.hpp"
#include "tools/connector-host/HttpFrontEnd.hpp"
#include "tools/connector-host/LineReader.hpp"

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
    LineReader reader(in, processor.limits().maxBytes);
    LineReader::Line line;
    while (reader.next(line)) {
        if (!line.tooLong && isBlank(line.text)) continue;
        writeAnswer(line.tooLong ? processor.tooLarge(line.size).json
                                 : processor.process(line.text).json);
    }
    return 0;
}

sigset_t stopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

// The stop signals are blocked (in run) before any thread starts, the engine's among them, so
// that every thread inherits the mask and only sigwait below receives them.
int serveHttp(HostRuntime& runtime, EnvelopeProcessor& processor, const HttpOptions& options) {
    HttpFrontEnd server(processor, options);
    server.start();
    std::cerr << "connector-host: serving POST http://127.0.0.1:" << server.port() << "/messages"
              << std::endl;
    int received = 0;
    const sigset_t signals = stopSignals();
    sigwait(&signals, &received);
    std::cerr << "connector-host: stopping on signal " << received << std::endl;
    // In order: no new requests, requests in flight answered (or refused at the drain deadline),
    // then the services stop so that workers still inside them return, then the workers end.
    server.stop();
    runtime.stop();
    server.join();
    std::cerr << "connector-host: stopped" << std::endl;
    return 0;
}

std::string readFile(const std::string& path, const char* what) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    if (file) text << file.rdbuf();
    if (!file || file.bad())
        throw std::runtime_error(std::string("cannot read ") + what + " " + path);
    return text.str();
}

// The bearer token: the file's text without surrounding white space; printable ASCII only, so
// that it can travel in a header.
std::string readToken(const std::string& path) {
    const std::string token = boost::algorithm::trim_copy(readFile(path, "token file"));
    if (token.empty()) throw std::runtime_error("token file " + path + " is empty");
    for (char c : token)
        if (c < 0x21 || c > 0x7E)
            throw std::runtime_error("token file " + path +
                                     " must hold one token of printable ASCII characters");
    return token;
}

int run(HostOptions options) {
    if (options.logLevel) {
        foundation::log::add_stderr_sink();
        foundation::log::set_minimum_level(*options.logLevel);
    }
    const std::string table = options.engineFile ? readFile(*options.engineFile, "engine table")
                                                 : std::string(kDefaultEngineTable);
    if (options.tokenFile) options.httpOptions.token = readToken(*options.tokenFile);
    if (options.http) {
        const sigset_t signals = stopSignals();
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
