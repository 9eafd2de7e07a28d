// The plain WebSocket client: writing messages.
#include "support/web_client_ws_plain.h"

namespace olva_test::web_client_detail {

template bool WsClientImpl<beast::tcp_stream>::write(const std::string&, bool);

}  // namespace olva_test::web_client_detail
