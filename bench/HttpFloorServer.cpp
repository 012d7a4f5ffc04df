// The floor of connector-host's HTTP path (bench/http_bench.py): the least an HTTP/1.1 server on
// Boost.Beast and Boost.Asio does to give the same answers. One io_context run by THREADS threads;
// each connection reads a request (head and body, as Beast's own parser does), has its body served
// by the host's own core (EnvelopeProcessor over the plug-in, as connector-host's stdin path does)
// and writes the answer, keeping the connection alive. What connector-host does beyond this is its
// HTTP edge: its limits, deadlines, connection cap, metrics and event loops.
//
//   http_floor_server PORT THREADS     (prints the bound port, then serves)
#include <algorithm>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/connector-host/core/EngineTable.hpp"
#include "tools/connector-host/core/EnvelopeProcessor.hpp"
#include "tools/connector-host/core/HostRuntime.hpp"

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(tcp::socket socket, connectorhost::EnvelopeProcessor& processor)
        : stream(std::move(socket)), processor(processor) {}

    void read() {
        request = {};
        http::async_read(stream, buffer, request,
                         [self = shared_from_this()](beast::error_code error, std::size_t) {
                             if (!error) self->write();
                         });
    }

  private:
    void write() {
        response = http::response<http::string_body>(http::status::ok, 11);
        response.set(http::field::server, "connector-host");
        response.set(http::field::cache_control, "no-store");
        response.set(http::field::content_type, "application/json");
        response.body() = processor.process(request.body()).json;
        response.body() += '\n';  // one line, as connector-host answers
        response.keep_alive(request.keep_alive());
        response.prepare_payload();
        http::async_write(stream, response,
                          [self = shared_from_this()](beast::error_code error, std::size_t) {
                              if (!error && self->response.keep_alive()) self->read();
                          });
    }

    beast::tcp_stream stream;
    connectorhost::EnvelopeProcessor& processor;
    beast::flat_buffer buffer;
    http::request<http::string_body> request;
    http::response<http::string_body> response;
};

void accept(tcp::acceptor& acceptor, net::io_context& context,
            connectorhost::EnvelopeProcessor& processor) {
    acceptor.async_accept(net::make_strand(context),
                          [&](beast::error_code error, tcp::socket socket) {
                              if (!error)
                                  std::make_shared<Session>(std::move(socket), processor)->read();
                              accept(acceptor, context, processor);
                          });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: http_floor_server PORT THREADS\n";
        return 2;
    }
    connectorhost::HostRuntime runtime(
        connectorhost::makeEngine(connectorhost::DEFAULT_ENGINE_TABLE));
    connectorhost::EnvelopeProcessor processor(runtime);
    const int threads = std::max(1, std::stoi(argv[2]));

    net::io_context context(threads);
    tcp::acceptor acceptor(context, {net::ip::make_address("127.0.0.1"),
                                     static_cast<unsigned short>(std::stoi(argv[1]))});
    std::cout << acceptor.local_endpoint().port() << std::endl;
    accept(acceptor, context, processor);
    std::vector<std::thread> pool;
    for (int i = 1; i < threads; ++i) pool.emplace_back([&] { context.run(); });
    context.run();
}
