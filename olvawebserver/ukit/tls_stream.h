// A TLS stream: Beast's ssl_stream over a tcp_stream whose operations are
// compiled once, in tls_stream.cpp. The HTTP and WebSocket
// operations above it hand it their buffers as a plain list and their
// handlers type-erased, so that they do not build the TLS engine's
// operations again for every buffer and handler type of their own. What it
// does is exactly what the ssl_stream does.
#pragma once

#include <cstddef>
#include <vector>

#include <boost/asio/any_completion_handler.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream_base.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/role.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

namespace web {

class TlsStream {
public:
    using next_layer_type = boost::beast::ssl_stream<boost::beast::tcp_stream>;
    using executor_type = next_layer_type::executor_type;
    using Done = boost::asio::any_completion_handler<void(boost::beast::error_code)>;
    using Transferred = boost::asio::any_completion_handler<void(boost::beast::error_code, std::size_t)>;

    // The server's end of an accepted socket.
    TlsStream(boost::asio::ip::tcp::socket socket, boost::asio::ssl::context& tls);
    // A client's end, not yet connected.
    TlsStream(boost::asio::io_context& ioc, boost::asio::ssl::context& tls);

    executor_type get_executor() noexcept { return stream_.get_executor(); }
    // Beast's get_lowest_layer() finds the tcp_stream through these.
    next_layer_type& next_layer() noexcept { return stream_; }
    const next_layer_type& next_layer() const noexcept { return stream_; }

    template <class MutableBufferSequence, class Handler>
    auto async_read_some(const MutableBufferSequence& buffers, Handler&& handler)
    {
        return boost::asio::async_initiate<Handler, void(boost::beast::error_code, std::size_t)>(
            [this](auto done, std::vector<boost::asio::mutable_buffer> list) {
                read_some(std::move(list), Transferred(std::move(done)));
            },
            handler, list_of<boost::asio::mutable_buffer>(buffers));
    }

    template <class ConstBufferSequence, class Handler>
    auto async_write_some(const ConstBufferSequence& buffers, Handler&& handler)
    {
        return boost::asio::async_initiate<Handler, void(boost::beast::error_code, std::size_t)>(
            [this](auto done, std::vector<boost::asio::const_buffer> list) {
                write_some(std::move(list), Transferred(std::move(done)));
            },
            handler, list_of<boost::asio::const_buffer>(buffers));
    }

    template <class Handler>
    auto async_handshake(boost::asio::ssl::stream_base::handshake_type type, Handler&& handler)
    {
        return boost::asio::async_initiate<Handler, void(boost::beast::error_code)>(
            [this, type](auto done) { handshake(type, Done(std::move(done))); }, handler);
    }

    template <class Handler>
    auto async_shutdown(Handler&& handler)
    {
        return boost::asio::async_initiate<Handler, void(boost::beast::error_code)>(
            [this](auto done) { shutdown(Done(std::move(done))); }, handler);
    }

    // The WebSocket close's end of the TLS session and of the socket, as
    // Beast does it for its ssl_stream.
    void teardown(boost::beast::role_type role, Done done);

private:
    template <class Buffer, class Sequence>
    static std::vector<Buffer> list_of(const Sequence& buffers)
    {
        return std::vector<Buffer>(boost::asio::buffer_sequence_begin(buffers),
                                   boost::asio::buffer_sequence_end(buffers));
    }

    void read_some(std::vector<boost::asio::mutable_buffer> buffers, Transferred done);
    void write_some(std::vector<boost::asio::const_buffer> buffers, Transferred done);
    void handshake(boost::asio::ssl::stream_base::handshake_type type, Done done);
    void shutdown(Done done);

    next_layer_type stream_;
};

// Found by Beast's WebSocket stream when it closes.
template <class Handler>
void async_teardown(boost::beast::role_type role, TlsStream& stream, Handler&& handler)
{
    stream.teardown(role, TlsStream::Done(std::forward<Handler>(handler)));
}

}  // namespace web
