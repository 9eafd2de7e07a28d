// The plain WebSocket client: the client and its handshake.
#include "support/web_client_ws_plain.h"

namespace olva_test::web_client_detail {

template bool WsClientImpl<beast::tcp_stream>::open(const ClientOptions&, std::string*, int*);

std::unique_ptr<WsClient> connect_plain(const ClientOptions& options, std::string* error, int* status)
{
    auto client = std::make_unique<WsClientImpl<beast::tcp_stream>>(nullptr);
    if (!client->open(options, error, status))
        return nullptr;
    return client;
}

}  // namespace olva_test::web_client_detail
