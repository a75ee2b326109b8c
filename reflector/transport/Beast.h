#pragma once

// What the transport's pieces share of Boost.Beast and Asio: the transport is the only part of
// the relay that includes them.

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>

namespace reflector::transport {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using boost::system::error_code;
using Clock = std::chrono::steady_clock;

constexpr Clock::time_point kNever = Clock::time_point::max();

} // namespace reflector::transport
