// connector-host: runs the information plug-in the way the Quorix framework does, and serves JSON
// envelopes from stdin, a session file or HTTP. Answers go to stdout (one line each, in input
// order); diagnostics go to stderr.
#include <signal.h>

#include <boost/program_options.hpp>
#include <fstream>
#include <iostream>
#include <sstream>

#include "host/log/DiagnosticLogger.hpp"
#include "tools/connector-host/EngineTable.hpp"
#include "tools/connector-host/EnvelopeProcessor.hpp"
#include "tools/connector-host/HostRuntime.hpp"
#include "tools/connector-host/HttpFrontEnd.hpp"
#include "tools/connector-host/LineReader.hpp"

namespace po = boost::program_options;

namespace {

bool isBlank(const std::string& text) {
    return text.find_first_not_of(" \t\r") == std::string::npos;
}

int serveLines(std::istream& in, connectorhost::EnvelopeProcessor& processor) {
    connectorhost::LineReader reader(in, processor.maxBytes());
    connectorhost::LineReader::Line line;
    while (reader.next(line)) {
        if (!line.tooLong && isBlank(line.text)) continue;
        const auto answer =
            line.tooLong ? processor.tooLarge(line.size) : processor.process(line.text);
        std::cout << answer.json << '\n' << std::flush;
    }
    return 0;
}

int serveHttp(connectorhost::EnvelopeProcessor& processor, std::uint16_t port) {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);  // server threads inherit the mask

    connectorhost::HttpFrontEnd server(processor, port);
    server.start();
    std::cerr << "connector-host: serving POST http://127.0.0.1:" << server.port() << "/messages"
              << std::endl;
    int received = 0;
    sigwait(&stopSignals, &received);
    std::cerr << "connector-host: stopping on signal " << received << std::endl;
    server.stop();
    return 0;
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read " + path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace

int main(int argc, char** argv) {
    po::options_description options("Usage: connector-host [options] [SESSION_FILE]\nOptions");
    options.add_options()("help,h", "show this help")(
        "engine", po::value<std::string>(), "engine table (JSON) instead of the built-in one")(
        "http", po::value<std::uint16_t>(),
        "serve POST /messages on 127.0.0.1:PORT until SIGINT/SIGTERM")(
        "log-level", po::value<unsigned>(),
        "write diagnostic lines of level N and above to stderr")(
        "max-bytes",
        po::value<std::size_t>()->default_value(connectorhost::EnvelopeProcessor::kDefaultMaxBytes),
        "largest line or body accepted, in bytes");
    po::options_description hidden;
    hidden.add_options()("session", po::value<std::string>());
    po::positional_options_description positional;
    positional.add("session", 1);

    po::variables_map vm;
    try {
        po::options_description all;
        all.add(options).add(hidden);
        po::store(po::command_line_parser(argc, argv).options(all).positional(positional).run(),
                  vm);
        po::notify(vm);
    } catch (const std::exception& error) {
        std::cerr << "connector-host: " << error.what() << "\n" << options << std::endl;
        return 2;
    }
    if (vm.count("help")) {
        std::cout
            << "connector-host: serves connector JSON envelopes to the information plug-in.\n"
            << "Reads one envelope per line from SESSION_FILE or stdin and writes one answer\n"
            << "line per envelope to stdout, or serves them over HTTP with --http.\n\n"
            << options << std::endl;
        return 0;
    }

    try {
        if (vm.count("log-level")) {
            foundation::log::add_stderr_sink();
            foundation::log::set_minimum_level(vm["log-level"].as<unsigned>());
        }
        const std::string table = vm.count("engine")
                                      ? readFile(vm["engine"].as<std::string>())
                                      : std::string(connectorhost::kDefaultEngineTable);
        connectorhost::HostRuntime runtime(connectorhost::makeEngine(table));
        connectorhost::EnvelopeProcessor processor(runtime, vm["max-bytes"].as<std::size_t>());

        if (vm.count("http")) return serveHttp(processor, vm["http"].as<std::uint16_t>());
        if (vm.count("session")) {
            std::ifstream session(vm["session"].as<std::string>(), std::ios::binary);
            if (!session)
                throw std::runtime_error("cannot read " + vm["session"].as<std::string>());
            return serveLines(session, processor);
        }
        return serveLines(std::cin, processor);
    } catch (const std::exception& error) {
        std::cerr << "connector-host: " << error.what() << std::endl;
        return 1;
    }
}
