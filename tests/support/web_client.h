// Real Beast clients for the web service's tests: a WebSocket client (plain
// or TLS) whose reads wait with a time-out, and one-shot HTTP requests.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "support/eventually.h"

namespace olva_test {

struct ClientOptions {
    unsigned short port = 0;
    std::string host;  // the Host header; empty: "localhost:<port>"
    std::string origin;  // the Origin header, as a browser sends it; empty: none
    std::map<std::string, std::string> headers;  // more request headers, e.g. Sec-Fetch-Site
    std::string target = "/";
    bool tls = false;
    std::string ca_file;  // with tls: the certificate the server must show
    std::string address = "127.0.0.1";
};

class WsClient {
public:
    // Connects and completes the handshake; null on failure, with the
    // reason in error and the HTTP status of a refused upgrade in status.
    static std::unique_ptr<WsClient> connect(const ClientOptions& options,
                                             std::string* error = nullptr, int* status = nullptr);
    virtual ~WsClient() = default;

    // Sends one text frame and waits until it is written.
    virtual bool send(const std::string& text) = 0;
    // Sends one binary frame and waits until it is written.
    virtual bool send_binary(const std::string& bytes) = 0;
    // The next message, or nothing when none came in time or the
    // connection ended.
    virtual std::optional<std::string> read(std::chrono::milliseconds timeout = kWait) = 0;
    // Waits until the connection has ended; true when it did in time.
    virtual bool wait_closed(std::chrono::milliseconds timeout = kWait) = 0;
    // The server's close frame, when one came.
    virtual bool got_close_frame() const = 0;
    virtual int close_code() const = 0;
    virtual std::string close_reason() const = 0;
};

struct HttpResult {
    int status = 0;  // 0: no reply
    std::string error;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
    bool chunked = false;
};

// One request on a connection of its own; a body goes with its
// Content-Length.
HttpResult http_request(const ClientOptions& options, const std::string& method = "GET",
                        const std::string& body = "");

// Sends the bytes as they stand and returns every byte the server sends
// back until it closes, the bytes received end in until (when not empty),
// or the time-out ends.
std::string raw_exchange(const ClientOptions& options, const std::string& request,
                         std::chrono::milliseconds timeout = kWait, const std::string& until = "");

// Whether a TCP connection to address:port is accepted.
bool tcp_connects(const std::string& address, unsigned short port);

}  // namespace olva_test
