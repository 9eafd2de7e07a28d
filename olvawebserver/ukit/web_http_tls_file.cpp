// The HTTP sessions of TLS connections: writing replies read from files.
#include "ukit/web_http_tls.h"

namespace web::session {

template void HttpSession<TlsStream>::write(FileResponse&);

}  // namespace web::session
