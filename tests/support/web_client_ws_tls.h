// The TLS WebSocket client: each operation is compiled in a file of its own
// (web_client_ws_tls*.cpp).
#pragma once

#include "support/web_client_tls.h"
#include "support/web_client_ws.h"

namespace olva_test::web_client_detail {

extern template bool WsClientImpl<SslStream>::open(const ClientOptions&, std::string*, int*);
extern template bool WsClientImpl<SslStream>::write(const std::string&, bool);
extern template void WsClientImpl<SslStream>::start_read();

}  // namespace olva_test::web_client_detail
