// The HTTP sessions of TLS connections: writing replies held in memory.
#include "ukit/web_http_tls.h"

namespace web::session {

template void HttpSession<TlsStream>::write(StringResponse&);

}  // namespace web::session
