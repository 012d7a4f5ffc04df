// What the sources of the HTTP front end share, included first by each of them.
//
// Boost.Asio ends each handler with a release fence. ThreadSanitizer cannot model fences, and GCC
// says so at compile time (-Wtsan); handlers pass between threads under Asio's scheduler and
// strand mutexes, which it does model, so the fence hides nothing from it.
#pragma once

#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic ignored "-Wtsan"
#endif

#include <boost/asio/ip/tcp.hpp>

namespace boost::beast::http {}

namespace connectorhost {

namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace net = boost::asio;
using tcp = boost::asio::ip::tcp;

}  // namespace connectorhost
