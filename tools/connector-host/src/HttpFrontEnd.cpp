#include "tools/connector-host/HttpFrontEnd.hpp"

#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>

namespace connectorhost {
namespace {

using Poco::Net::HTTPResponse;
using Poco::Net::HTTPServerRequest;
using Poco::Net::HTTPServerResponse;

void reply(HTTPServerResponse& response, HTTPResponse::HTTPStatus status, const std::string& body) {
    response.setStatus(status);
    response.setContentType("application/json");
    response.setContentLength(static_cast<std::streamsize>(body.size() + 1));
    response.send() << body << '\n';
}

class MessagesHandler : public Poco::Net::HTTPRequestHandler {
  public:
    explicit MessagesHandler(EnvelopeProcessor& processor) : processor_(processor) {}

    void handleRequest(HTTPServerRequest& request, HTTPServerResponse& response) override {
        if (request.getURI() != "/messages") {
            reply(response, HTTPResponse::HTTP_NOT_FOUND,
                  R"({"error":{"kind":"not_found","message":"Only /messages is served"}})");
            return;
        }
        if (request.getMethod() != Poco::Net::HTTPRequest::HTTP_POST) {
            response.set("Allow", "POST");
            reply(
                response, HTTPResponse::HTTP_METHOD_NOT_ALLOWED,
                R"({"error":{"kind":"method_not_allowed","message":"Send envelopes with POST"}})");
            return;
        }
        // Read at most one byte past the limit: enough to know the body is too large.
        std::string body;
        std::istream& in = request.stream();
        char chunk[8192];
        std::size_t total = 0;
        while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
            const auto got = static_cast<std::size_t>(in.gcount());
            total += got;
            if (body.size() <= processor_.maxBytes()) body.append(chunk, got);
        }
        if (total > processor_.maxBytes()) {
            reply(response, HTTPResponse::HTTP_REQUEST_ENTITY_TOO_LARGE,
                  processor_.tooLarge(total).json);
            return;
        }
        Answer answer = processor_.process(body);
        const auto status = answer.tooLarge       ? HTTPResponse::HTTP_REQUEST_ENTITY_TOO_LARGE
                            : answer.inputError   ? HTTPResponse::HTTP_BAD_REQUEST
                            : answer.serviceError ? HTTPResponse::HTTP_INTERNAL_SERVER_ERROR
                                                  : HTTPResponse::HTTP_OK;
        reply(response, status, answer.json);
    }

  private:
    EnvelopeProcessor& processor_;
};

class HandlerFactory : public Poco::Net::HTTPRequestHandlerFactory {
  public:
    explicit HandlerFactory(EnvelopeProcessor& processor) : processor_(processor) {}
    Poco::Net::HTTPRequestHandler* createRequestHandler(const HTTPServerRequest&) override {
        return new MessagesHandler(processor_);
    }

  private:
    EnvelopeProcessor& processor_;
};

}  // namespace

HttpFrontEnd::HttpFrontEnd(EnvelopeProcessor& processor, std::uint16_t port) {
    Poco::Net::ServerSocket socket(Poco::Net::SocketAddress("127.0.0.1", port));
    auto* params = new Poco::Net::HTTPServerParams;
    params->setMaxThreads(8);
    params->setMaxQueued(64);
    server_ =
        std::make_unique<Poco::Net::HTTPServer>(new HandlerFactory(processor), socket, params);
}

HttpFrontEnd::~HttpFrontEnd() {
    stop();
}

void HttpFrontEnd::start() {
    server_->start();
}

void HttpFrontEnd::stop() {
    if (server_) server_->stopAll(true);
}

std::uint16_t HttpFrontEnd::port() const {
    return server_->port();
}

}  // namespace connectorhost
