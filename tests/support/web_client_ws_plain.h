// The plain WebSocket client: each operation is compiled in a file of its
// own (web_client_ws_plain*.cpp).
#pragma once

#include "support/web_client_ws.h"

namespace olva_test::web_client_detail {

extern template bool WsClientImpl<beast::tcp_stream>::open(const ClientOptions&, std::string*, int*);
extern template bool WsClientImpl<beast::tcp_stream>::write(const std::string&, bool);
extern template void WsClientImpl<beast::tcp_stream>::start_read();

}  // namespace olva_test::web_client_detail
