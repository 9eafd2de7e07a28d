// The HTTP sessions of TLS connections.
#include <boost/beast/ssl/ssl_stream.hpp>

#include "ukit/web_http_session.h"

namespace web {

void start_tls_session(boost::asio::ip::tcp::socket socket, boost::asio::ssl::context& tls,
                       WebEvents& events, std::string address, ConnectionSlot slot)
{
    using Stream = boost::beast::ssl_stream<boost::beast::tcp_stream>;
    std::make_shared<session::HttpSession<Stream>>(Stream(std::move(socket), tls), events, std::move(address),
                                                   std::move(slot))
        ->run();
}

}  // namespace web
