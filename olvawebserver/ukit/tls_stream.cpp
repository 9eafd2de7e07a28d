#include "ukit/tls_stream.h"

#include <boost/asio/bind_executor.hpp>
#include <boost/beast/websocket/ssl.hpp>

namespace web {

namespace {

// The TLS operations post and dispatch their handlers on an executor that
// can be required never to block; Asio's type-erased completion executor
// cannot be, so each handler is bound to the stream's executor, the one the
// operations above hand their handlers in on.
template <class Handler>
auto on_executor(const TlsStream::executor_type& executor, Handler handler)
{
    return boost::asio::bind_executor(executor, std::move(handler));
}

}  // namespace

TlsStream::TlsStream(boost::asio::ip::tcp::socket socket, boost::asio::ssl::context& tls)
    : stream_(std::move(socket), tls)
{
}

TlsStream::TlsStream(boost::asio::io_context& ioc, boost::asio::ssl::context& tls) : stream_(ioc, tls) {}

void TlsStream::read_some(std::vector<boost::asio::mutable_buffer> buffers, Transferred done)
{
    stream_.async_read_some(buffers, on_executor(get_executor(), std::move(done)));
}

void TlsStream::write_some(std::vector<boost::asio::const_buffer> buffers, Transferred done)
{
    stream_.async_write_some(buffers, on_executor(get_executor(), std::move(done)));
}

void TlsStream::handshake(boost::asio::ssl::stream_base::handshake_type type, Done done)
{
    stream_.async_handshake(type, on_executor(get_executor(), std::move(done)));
}

void TlsStream::shutdown(Done done)
{
    stream_.async_shutdown(on_executor(get_executor(), std::move(done)));
}

void TlsStream::teardown(boost::beast::role_type role, Done done)
{
    using boost::beast::websocket::async_teardown;
    async_teardown(role, stream_, on_executor(get_executor(), std::move(done)));
}

}  // namespace web
