// The TLS stream of the Beast clients and its handshake, compiled once in
// web_client_tls.cpp. The stream is the service's own, whose TLS operations
// are compiled once for every kind of HTTP and WebSocket operation above it.
#pragma once

#include "support/web_client_streams.h"
#include "ukit/tls_stream.h"

namespace olva_test::web_client_detail {

using SslStream = web::TlsStream;

}  // namespace olva_test::web_client_detail
