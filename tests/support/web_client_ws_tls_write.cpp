// The TLS WebSocket client: writing messages.
#include "support/web_client_ws_tls.h"

namespace olva_test::web_client_detail {

template bool WsClientImpl<SslStream>::write(const std::string&, bool);

}  // namespace olva_test::web_client_detail
