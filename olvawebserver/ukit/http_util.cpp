#include "ukit/http_util.h"

#include <algorithm>
#include <cctype>

namespace web {
namespace {

bool iequals(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool is_port(std::string_view text)
{
    return !text.empty() && text.size() <= 5 &&
           std::all_of(text.begin(), text.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool is_local_host(std::string_view host)
{
    std::string_view name = host;
    if (host.starts_with('[')) {
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos)
            return false;
        name = host.substr(0, close + 1);
        const std::string_view rest = host.substr(close + 1);
        if (!rest.empty() && !(rest.starts_with(':') && is_port(rest.substr(1))))
            return false;
        return name == "[::1]";
    }
    const std::size_t colon = host.find(':');
    if (colon != std::string_view::npos) {
        name = host.substr(0, colon);
        if (!is_port(host.substr(colon + 1)))
            return false;
    }
    return iequals(name, "localhost") || name == "127.0.0.1";
}

bool url_decode(std::string_view text, bool form, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size())
                return false;
            const int high = hex_value(text[i + 1]);
            const int low = hex_value(text[i + 2]);
            if (high < 0 || low < 0 || (high == 0 && low == 0))
                return false;
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else if (c == '+' && form) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return true;
}

int get_query_var(std::string_view query, std::string_view name, std::string& value,
                  std::size_t max_length)
{
    value.clear();
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);

        const std::size_t eq = pair.find('=');
        if (eq == std::string_view::npos || !iequals(pair.substr(0, eq), name))
            continue;
        std::string decoded;
        if (!url_decode(pair.substr(eq + 1), true, decoded))
            return -1;
        if (decoded.size() > max_length)
            return -2;
        value = std::move(decoded);
        return static_cast<int>(value.size());
    }
    return -1;
}

std::string_view target_path(std::string_view target)
{
    return target.substr(0, target.find('?'));
}

std::string_view target_query(std::string_view target)
{
    const std::size_t mark = target.find('?');
    return mark == std::string_view::npos ? std::string_view() : target.substr(mark + 1);
}

StringResponse json_chunked_reply(std::string json, unsigned version, bool keep_alive)
{
    StringResponse res{http::status::ok, version};
    res.set(http::field::content_type, "application/json");
    res.body() = std::move(json);
    res.chunked(true);
    res.keep_alive(keep_alive);
    return res;
}

StringResponse text_reply(http::status status, std::string text, unsigned version,
                          bool keep_alive)
{
    StringResponse res{status, version};
    res.set(http::field::content_type, "text/plain; charset=utf-8");
    res.body() = std::move(text);
    res.prepare_payload();
    res.keep_alive(keep_alive);
    return res;
}

}  // namespace web
