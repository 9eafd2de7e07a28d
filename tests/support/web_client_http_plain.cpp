#include "support/web_client_http.h"

namespace olva_test::web_client_detail {

HttpResult http_request_plain(const ClientOptions& options, const std::string& method, const std::string& body)
{
    asio::io_context ioc;
    beast::tcp_stream stream(ioc);
    return http_exchange(ioc, stream, options, method, body);
}

}  // namespace olva_test::web_client_detail
