// The HTTP sessions of TLS connections.
#include "ukit/tls_stream.h"
#include "ukit/web_http_session.h"

namespace web {

void start_tls_session(boost::asio::ip::tcp::socket socket, boost::asio::ssl::context& tls,
                       WebEvents& events, std::string address, ConnectionSlot slot)
{
    std::make_shared<session::HttpSession<TlsStream>>(TlsStream(std::move(socket), tls), events,
                                                      std::move(address), std::move(slot))
        ->run();
}

}  // namespace web
