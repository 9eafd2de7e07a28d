// The HTTP sessions of plain connections.
#include "ukit/web_http_session.h"

namespace web {

void start_plain_session(boost::asio::ip::tcp::socket socket, WebEvents& events, std::string address,
                         ConnectionSlot slot)
{
    using Stream = boost::beast::tcp_stream;
    std::make_shared<session::HttpSession<Stream>>(Stream(std::move(socket)), events, std::move(address),
                                                   std::move(slot))
        ->run();
}

}  // namespace web
