// The HTTP sessions of TLS connections: reading requests.
#include "ukit/web_http_tls.h"

namespace web::session {

template void HttpSession<TlsStream>::do_read();

}  // namespace web::session
