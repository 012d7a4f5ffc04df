#include "tools/connector-host/http/AsioSupport.hpp"

#include "tools/connector-host/http/HttpFrontEnd.hpp"

#include "tools/connector-host/http/HttpServer.hpp"

namespace connectorhost {

HttpFrontEnd::HttpFrontEnd(EnvelopeProcessor& processor, RequestLog& requests, HttpOptions options)
    : server(std::make_unique<HttpServer>(processor, requests, std::move(options))) {}

HttpFrontEnd::~HttpFrontEnd() = default;

void HttpFrontEnd::start() {
    server->start();
}

void HttpFrontEnd::beginStop() {
    server->beginStop();
}

void HttpFrontEnd::stopNow() {
    server->stopNow();
}

void HttpFrontEnd::waitStopped() {
    server->waitStopped();
}

void HttpFrontEnd::onDrainDeadline(std::function<void()> action) {
    server->onDrainDeadline(std::move(action));
}

void HttpFrontEnd::join() {
    server->join();
}

std::uint16_t HttpFrontEnd::port() const {
    return server->port();
}

}  // namespace connectorhost
