// The HTTP sessions of TLS connections: the session, its TLS handshake and
// its TLS shutdown.
#include "ukit/web_http_tls.h"

namespace web {

namespace session {

template void HttpSession<TlsStream>::run();
template void HttpSession<TlsStream>::do_close();

}  // namespace session

void start_tls_session(boost::asio::ip::tcp::socket socket, boost::asio::ssl::context& tls,
                       WebEvents& events, std::string address, ConnectionSlot slot)
{
    using Stream = TlsStream;
    std::make_shared<session::HttpSession<Stream>>(Stream(std::move(socket), tls), events, std::move(address),
                                                   std::move(slot))
        ->run();
}

}  // namespace web
