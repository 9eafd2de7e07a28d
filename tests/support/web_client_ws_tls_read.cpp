// The TLS WebSocket client: reading messages.
#include "support/web_client_ws_tls.h"

namespace olva_test::web_client_detail {

template void WsClientImpl<SslStream>::start_read();

}  // namespace olva_test::web_client_detail
