// The HTTP sessions of TLS connections: reading requests and writing replies
// are compiled in files of their own (web_http_tls*.cpp).
#pragma once

#include "ukit/tls_stream.h"
#include "ukit/web_http_session.h"

namespace web::session {

extern template void HttpSession<TlsStream>::run();
extern template void HttpSession<TlsStream>::do_read();
extern template void HttpSession<TlsStream>::write(StringResponse&);
extern template void HttpSession<TlsStream>::write(FileResponse&);
extern template void HttpSession<TlsStream>::do_close();

}  // namespace web::session
