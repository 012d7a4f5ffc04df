// What the sources of the HTTP front end share: Asio and the short names of its namespaces.
#pragma once

#include <boost/asio/ip/tcp.hpp>

namespace boost::beast::http {}

namespace connectorhost {

namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace net = boost::asio;
using tcp = boost::asio::ip::tcp;

}  // namespace connectorhost
