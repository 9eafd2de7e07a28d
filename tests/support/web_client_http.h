// One HTTP request of the Beast clients over an unopened stream, compiled
// for the plain and the TLS stream in files of their own.
#pragma once

#include <cctype>

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include "support/web_client_streams.h"

namespace olva_test::web_client_detail {

namespace http = beast::http;

template <class Stream>
HttpResult http_exchange(asio::io_context& ioc, Stream& stream, const ClientOptions& options,
                         const std::string& method, const std::string& body)
{
    HttpResult result;
    if (beast::error_code ec = open_stream(ioc, stream, options)) {
        result.error = ec.message();
        return result;
    }
    http::request<http::string_body> req{http::string_to_verb(method), options.target, 11};
    req.set(http::field::host, host_of(options));
    if (!options.origin.empty())
        req.set(http::field::origin, options.origin);
    for (const auto& [name, value] : options.headers)
        req.set(name, value);
    req.keep_alive(false);
    if (!body.empty()) {
        req.body() = body;
        req.prepare_payload();
    }
    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(64 * 1024 * 1024);
    if (method == "HEAD")
        parser.skip(true);
    bool done = false;
    beast::error_code failure;
    http::async_write(stream, req, [&](beast::error_code ec, std::size_t) {
        if (ec) {
            failure = ec;
            done = true;
            return;
        }
        http::async_read(stream, buffer, parser, [&](beast::error_code read_ec, std::size_t) {
            failure = read_ec;
            done = true;
        });
    });
    if (!run_until(ioc, [&] { return done; }, kWait))
        failure = asio::error::timed_out;
    if (failure) {
        result.error = failure.message();
        return result;
    }
    const auto& res = parser.get();
    result.status = static_cast<int>(res.result_int());
    for (const auto& field : res) {
        std::string name(field.name_string());
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        result.headers[name] = std::string(field.value());
    }
    result.body = res.body();
    result.chunked = res.chunked();
    return result;
}

}  // namespace olva_test::web_client_detail
