// The TLS WebSocket client: the client and its handshake.
#include "support/web_client_ws_tls.h"

namespace olva_test::web_client_detail {

template bool WsClientImpl<SslStream>::open(const ClientOptions&, std::string*, int*);

std::unique_ptr<WsClient> connect_tls(const ClientOptions& options, std::string* error, int* status)
{
    auto client = std::make_unique<WsClientImpl<SslStream>>(client_tls(options));
    if (!client->open(options, error, status))
        return nullptr;
    return client;
}

}  // namespace olva_test::web_client_detail
