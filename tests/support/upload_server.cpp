#include "support/upload_server.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

namespace olva_test {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

constexpr std::size_t kMaxBody = 16 * 1024 * 1024;

std::string lower(std::string text)
{
    std::ranges::transform(text, text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The value of parameter name in a header value such as
// form-data; name="file"; filename="a.wav" (quotes removed).
std::optional<std::string> header_param(const std::string& value, const std::string& name)
{
    std::size_t at = value.find(';');
    while (at != std::string::npos) {
        const std::size_t next = value.find(';', at + 1);
        const std::string item = trim(value.substr(at + 1, next == std::string::npos ? next : next - at - 1));
        const std::size_t equals = item.find('=');
        if (equals != std::string::npos && lower(trim(item.substr(0, equals))) == name) {
            std::string v = trim(item.substr(equals + 1));
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
                v = v.substr(1, v.size() - 2);
            return v;
        }
        at = next;
    }
    return std::nullopt;
}

}  // namespace

const FormPart* ReceivedRequest::part(const std::string& name) const
{
    const auto found = std::ranges::find(parts, name, &FormPart::name);
    return found == parts.end() ? nullptr : &*found;
}

std::optional<std::vector<FormPart>> parse_multipart(const std::string& content_type,
                                                     const std::string& body)
{
    if (lower(content_type).rfind("multipart/form-data", 0) != 0)
        return std::nullopt;
    const auto boundary = header_param(content_type, "boundary");
    if (!boundary || boundary->empty())
        return std::nullopt;
    const std::string delimiter = "--" + *boundary;
    std::vector<FormPart> parts;
    std::size_t at = body.find(delimiter);
    if (at != 0)
        return std::nullopt;
    for (;;) {
        at += delimiter.size();
        if (body.compare(at, 2, "--") == 0)
            return parts;  // the closing delimiter
        if (body.compare(at, 2, "\r\n") != 0)
            return std::nullopt;
        at += 2;
        const std::size_t head_end = body.find("\r\n\r\n", at);
        const std::size_t next = body.find("\r\n" + delimiter, at);
        if (head_end == std::string::npos || next == std::string::npos || head_end > next)
            return std::nullopt;
        FormPart part;
        std::size_t line_start = at;
        while (line_start < head_end) {
            std::size_t line_end = body.find("\r\n", line_start);
            const std::string line = body.substr(line_start, line_end - line_start);
            const std::size_t colon = line.find(':');
            if (colon == std::string::npos)
                return std::nullopt;
            const std::string name = lower(trim(line.substr(0, colon)));
            const std::string value = trim(line.substr(colon + 1));
            if (name == "content-disposition") {
                if (lower(value).rfind("form-data", 0) != 0)
                    return std::nullopt;
                part.name = header_param(value, "name").value_or("");
                part.filename = header_param(value, "filename");
            } else if (name == "content-type") {
                part.content_type = value;
            }
            line_start = line_end + 2;
        }
        part.data = body.substr(head_end + 4, next - head_end - 4);
        parts.push_back(std::move(part));
        at = next + 2;
    }
}

struct UploadServer::State {
    asio::io_context ioc;
    tcp::acceptor acceptor{ioc};
    std::thread thread;

    mutable std::mutex mutex;  // guards the members below
    mutable std::condition_variable changed;
    ServerReply reply;
    std::vector<ReceivedRequest> requests;
    std::vector<std::function<void()>> held;  // answer a held request; on the server thread
};

namespace {

struct Session : std::enable_shared_from_this<Session> {
    explicit Session(tcp::socket socket) : stream(std::move(socket)) {}

    beast::tcp_stream stream;
    beast::flat_buffer buffer;
    std::optional<http::request_parser<http::string_body>> parser;
    http::response<http::string_body> response;

    template <class OnRequest>
    void read(OnRequest on_request)
    {
        parser.emplace();
        parser->body_limit(kMaxBody);
        http::async_read(stream, buffer, *parser,
                         [self = shared_from_this(), on_request](beast::error_code ec, std::size_t) {
                             if (!ec)
                                 on_request(self);
                         });
    }

    void answer(const ServerReply& reply)
    {
        response = {};
        response.result(static_cast<http::status>(reply.status));
        response.version(11);
        response.keep_alive(false);
        response.body() = reply.body;
        response.prepare_payload();
        http::async_write(stream, response, [self = shared_from_this()](beast::error_code, std::size_t) {
            beast::error_code ignored;
            self->stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
        });
    }
};

void accept(UploadServer::State* state);

}  // namespace

UploadServer::UploadServer() : state_(std::make_unique<State>())
{
    const tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), 0);
    state_->acceptor.open(endpoint.protocol());
    state_->acceptor.set_option(asio::socket_base::reuse_address(true));
    state_->acceptor.bind(endpoint);
    state_->acceptor.listen();
    port_ = state_->acceptor.local_endpoint().port();
    accept(state_.get());
    state_->thread = std::thread([state = state_.get()] { state->ioc.run(); });
}

UploadServer::~UploadServer()
{
    // The handlers point at the state: its thread ends before it goes.
    state_->ioc.stop();
    state_->thread.join();
}

namespace {

void accept(UploadServer::State* state)
{
    state->acceptor.async_accept([state](beast::error_code ec, tcp::socket socket) {
        if (ec)
            return;
        auto session = std::make_shared<Session>(std::move(socket));
        session->read([state](const std::shared_ptr<Session>& s) {
            ReceivedRequest request;
            const auto& message = s->parser->get();
            request.method = std::string(message.method_string());
            request.target = std::string(message.target());
            for (const auto& field : message)
                request.headers[lower(std::string(field.name_string()))] = std::string(field.value());
            request.body = message.body();
            request.parts = parse_multipart(request.headers["content-type"], request.body)
                                .value_or(std::vector<FormPart>{});
            std::unique_lock lock(state->mutex);
            state->requests.push_back(std::move(request));
            const ServerReply reply = state->reply;
            if (reply.hold) {
                state->held.push_back([state, s] {
                    std::unique_lock inner(state->mutex);
                    const ServerReply now = state->reply;
                    inner.unlock();
                    s->answer(now);
                });
            }
            lock.unlock();
            state->changed.notify_all();
            if (!reply.hold)
                s->answer(reply);
        });
        accept(state);
    });
}

}  // namespace

std::string UploadServer::url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void UploadServer::reply_with(ServerReply reply)
{
    std::lock_guard lock(state_->mutex);
    state_->reply = std::move(reply);
}

void UploadServer::release()
{
    asio::post(state_->ioc, [state = state_.get()] {
        std::vector<std::function<void()>> held;
        {
            std::lock_guard lock(state->mutex);
            held.swap(state->held);
        }
        for (auto& answer : held)
            answer();
    });
}

std::vector<ReceivedRequest> UploadServer::requests() const
{
    std::lock_guard lock(state_->mutex);
    return state_->requests;
}

std::size_t UploadServer::request_count() const
{
    std::lock_guard lock(state_->mutex);
    return state_->requests.size();
}

bool UploadServer::wait_for_requests(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout, [&] { return state_->requests.size() >= count; });
}

}  // namespace olva_test
