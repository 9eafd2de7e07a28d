#include "support/web_client_http.h"
#include "support/web_client_tls.h"

namespace olva_test::web_client_detail {

HttpResult http_request_tls(const ClientOptions& options, const std::string& method, const std::string& body)
{
    asio::io_context ioc;
    auto tls = client_tls(options);
    SslStream stream(ioc, *tls);
    return http_exchange(ioc, stream, options, method, body);
}

}  // namespace olva_test::web_client_detail
