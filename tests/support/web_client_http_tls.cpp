// First, so that the template below sees the TLS stream's open_stream.
#include "support/web_client_tls.h"

#include "support/web_client_http.h"

namespace olva_test::web_client_detail {

HttpResult http_request_tls(const ClientOptions& options, const std::string& method, const std::string& body)
{
    asio::io_context ioc;
    auto tls = client_tls(options);
    SslStream stream(ioc, *tls);
    return http_exchange(ioc, stream, options, method, body);
}

}  // namespace olva_test::web_client_detail
