// The floor of connector-host's HTTP path (bench/http_bench.py): the least an HTTP/1.1 server on
// Boost.Beast and Boost.Asio does to answer the same requests with the same bytes, without the
// plug-in. One io_context run by THREADS threads; each connection reads a request (head and body,
// as Beast's own parser does) and writes the fixed answer, keeping the connection alive.
//
//   http_floor_server PORT THREADS ANSWER_FILE     (prints the bound port, then serves)
#include <algorithm>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(tcp::socket socket, const std::string& answer)
        : stream(std::move(socket)), answer(answer) {}

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
        response.body() = answer;
        response.keep_alive(request.keep_alive());
        response.prepare_payload();
        http::async_write(stream, response,
                          [self = shared_from_this()](beast::error_code error, std::size_t) {
                              if (!error && self->response.keep_alive()) self->read();
                          });
    }

    beast::tcp_stream stream;
    const std::string& answer;
    beast::flat_buffer buffer;
    http::request<http::string_body> request;
    http::response<http::string_body> response;
};

void accept(tcp::acceptor& acceptor, net::io_context& context, const std::string& answer) {
    acceptor.async_accept(net::make_strand(context),
                          [&](beast::error_code error, tcp::socket socket) {
                              if (!error)
                                  std::make_shared<Session>(std::move(socket), answer)->read();
                              accept(acceptor, context, answer);
                          });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: http_floor_server PORT THREADS ANSWER_FILE\n";
        return 2;
    }
    std::ifstream file(argv[3], std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    const std::string answer = text.str();
    const int threads = std::max(1, std::stoi(argv[2]));

    net::io_context context(threads);
    tcp::acceptor acceptor(context, {net::ip::make_address("127.0.0.1"),
                                     static_cast<unsigned short>(std::stoi(argv[1]))});
    std::cout << acceptor.local_endpoint().port() << std::endl;
    accept(acceptor, context, answer);
    std::vector<std::thread> pool;
    for (int i = 1; i < threads; ++i) pool.emplace_back([&] { context.run(); });
    context.run();
}
