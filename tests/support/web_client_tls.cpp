#include "support/web_client_tls.h"

#include <boost/asio/ssl/host_name_verification.hpp>

namespace olva_test::web_client_detail {

std::shared_ptr<asio::ssl::context> client_tls(const ClientOptions& options)
{
    auto context = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_client);
    if (!options.ca_file.empty())
        context->load_verify_file(options.ca_file);
    context->set_verify_mode(asio::ssl::verify_peer);
    return context;
}

beast::error_code open_stream(asio::io_context& ioc, SslStream& stream, const ClientOptions& options)
{
    if (beast::error_code ec = open_stream(ioc, beast::get_lowest_layer(stream), options))
        return ec;
    SSL_set_tlsext_host_name(stream.next_layer().native_handle(), "localhost");
    stream.next_layer().set_verify_callback(asio::ssl::host_name_verification("localhost"));
    beast::error_code result;
    bool done = false;
    stream.async_handshake(asio::ssl::stream_base::client, [&](beast::error_code ec) {
        result = ec;
        done = true;
    });
    if (!run_until(ioc, [&] { return done; }, kWait))
        return asio::error::timed_out;
    return result;
}

}  // namespace olva_test::web_client_detail
