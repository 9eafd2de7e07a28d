#include "support/web_client.h"

#include <functional>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>

#include "support/web_client_streams.h"

namespace olva_test {

namespace web_client_detail {

std::string host_of(const ClientOptions& options)
{
    return options.host.empty() ? "localhost:" + std::to_string(options.port) : options.host;
}

beast::error_code open_stream(asio::io_context& ioc, beast::tcp_stream& stream, const ClientOptions& options)
{
    beast::error_code result;
    bool done = false;
    const asio::ip::tcp::endpoint endpoint(asio::ip::make_address(options.address), options.port);
    stream.async_connect(endpoint, [&](beast::error_code ec) {
        result = ec;
        done = true;
    });
    if (!run_until(ioc, [&] { return done; }, kWait))
        return asio::error::timed_out;
    return result;
}

}  // namespace web_client_detail

using namespace web_client_detail;

std::unique_ptr<WsClient> WsClient::connect(const ClientOptions& options, std::string* error,
                                            int* status)
{
    return options.tls ? connect_tls(options, error, status) : connect_plain(options, error, status);
}

HttpResult http_request(const ClientOptions& options, const std::string& method,
                        const std::string& body)
{
    return options.tls ? http_request_tls(options, method, body) : http_request_plain(options, method, body);
}

std::string raw_exchange(const ClientOptions& options, const std::string& request,
                         std::chrono::milliseconds timeout, const std::string& until)
{
    asio::io_context ioc;
    beast::tcp_stream stream(ioc);
    if (open_stream(ioc, stream, options))
        return {};
    std::string reply;
    bool done = false;
    char chunk[4096];
    std::function<void()> read_more = [&] {
        stream.async_read_some(asio::buffer(chunk), [&](beast::error_code ec, std::size_t n) {
            reply.append(chunk, n);
            if (ec || (!until.empty() && reply.ends_with(until)))
                done = true;
            else
                read_more();
        });
    };
    asio::async_write(stream, asio::buffer(request), [&](beast::error_code ec, std::size_t) {
        if (ec)
            done = true;
        else
            read_more();
    });
    run_until(ioc, [&] { return done; }, timeout);
    return reply;
}

bool tcp_connects(const std::string& address, unsigned short port)
{
    asio::io_context ioc;
    beast::tcp_stream stream(ioc);
    ClientOptions options;
    options.address = address;
    options.port = port;
    return !open_stream(ioc, stream, options);
}

}  // namespace olva_test
