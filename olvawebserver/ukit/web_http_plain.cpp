// The HTTP sessions of plain connections: the session, its start and its end.
#include "ukit/web_http_plain.h"

namespace web {

namespace session {

template void HttpSession<beast::tcp_stream>::run();
template void HttpSession<beast::tcp_stream>::do_close();

}  // namespace session

void start_plain_session(boost::asio::ip::tcp::socket socket, WebEvents& events, std::string address,
                         ConnectionSlot slot)
{
    using Stream = boost::beast::tcp_stream;
    std::make_shared<session::HttpSession<Stream>>(Stream(std::move(socket)), events, std::move(address),
                                                   std::move(slot))
        ->run();
}

}  // namespace web
