// What the sources of the HTTP front end share: Asio, the short names of its namespaces, and how a
// peer is named in the logs.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <string>

namespace boost::beast::http {}

namespace connectorhost {

namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace net = boost::asio;
using tcp = boost::asio::ip::tcp;

// peerText: "address:port" of the socket's remote end, or "" once it is no longer known (the
// client has gone).
inline std::string peerText(const tcp::socket& socket) {
    boost::system::error_code error;
    const tcp::endpoint remote = socket.remote_endpoint(error);
    if (error) return "";
    return remote.address().to_string(error) + ":" + std::to_string(remote.port());
}

}  // namespace connectorhost
