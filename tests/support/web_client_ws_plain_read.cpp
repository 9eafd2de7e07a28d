// The plain WebSocket client: reading messages.
#include "support/web_client_ws_plain.h"

namespace olva_test::web_client_detail {

template void WsClientImpl<beast::tcp_stream>::start_read();

}  // namespace olva_test::web_client_detail
