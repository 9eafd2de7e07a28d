#include "ukit/origin_policy.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "ukit/http_util.h"

namespace web {
namespace {

constexpr std::size_t kMaxLoggedOrigin = 128;

std::string lower_origin(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    while (!out.empty() && out.back() == '/')
        out.pop_back();
    return out;
}

// "http://localhost:8054", "https://127.0.0.1", "http://[::1]:3000".
bool is_local_origin(std::string_view origin)
{
    for (const std::string_view scheme : {"http://", "https://"}) {
        if (origin.starts_with(scheme))
            return is_local_host(origin.substr(scheme.size()));
    }
    return false;
}

bool is_digit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Dot-separated labels of lower-case letters, digits and '-'.
bool is_plain_host(std::string_view host)
{
    std::size_t start = 0;
    while (start <= host.size()) {
        const std::size_t end = std::min(host.find('.', start), host.size());
        const std::string_view label = host.substr(start, end - start);
        if (label.empty() || !std::all_of(label.begin(), label.end(), [](char c) {
                return (c >= 'a' && c <= 'z') || is_digit(c) || c == '-';
            }))
            return false;
        start = end + 1;
    }
    return true;
}

// A lower-case http or https origin that a CSP source list can hold as it
// stands: "https://crm.example.com", "http://intranet:8080".
bool is_plain_origin(std::string_view origin)
{
    for (const std::string_view scheme : {"http://", "https://"}) {
        if (!origin.starts_with(scheme))
            continue;
        std::string_view host = origin.substr(scheme.size());
        const std::size_t colon = host.find(':');
        if (colon != std::string_view::npos) {
            const std::string_view port = host.substr(colon + 1);
            if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), is_digit))
                return false;
            host = host.substr(0, colon);
        }
        return is_plain_host(host);
    }
    return false;
}

// The "scheme://authority" part of an absolute URL; nothing when it has no
// such part, or its authority holds user information.
std::optional<std::string_view> url_origin(std::string_view url)
{
    const std::size_t scheme_end = url.find("://");
    if (scheme_end == std::string_view::npos || scheme_end == 0 ||
        !std::all_of(url.begin(), url.begin() + static_cast<std::ptrdiff_t>(scheme_end), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
        }))
        return std::nullopt;
    const std::size_t start = scheme_end + 3;
    const std::size_t end = std::min(url.find_first_of("/?#", start), url.size());
    const std::string_view authority = url.substr(start, end - start);
    if (authority.empty() || authority.find('@') != std::string_view::npos)
        return std::nullopt;
    return url.substr(0, end);
}

// The browser's own navigations and the service's own pages; any other
// value (another site, or one we do not know) asks for the page's origin.
bool from_own_pages(std::string_view fetch_site)
{
    return fetch_site == "none" || fetch_site == "same-origin";
}

}  // namespace

OriginPolicy::OriginPolicy() : frame_ancestors_("frame-ancestors 'self'") {}

OriginPolicy::OriginPolicy(std::string_view listed) : OriginPolicy()
{
    constexpr std::string_view kSeparators = ", \t";
    std::size_t at = 0;
    while ((at = listed.find_first_not_of(kSeparators, at)) != std::string_view::npos) {
        const std::size_t end = std::min(listed.find_first_of(kSeparators, at), listed.size());
        std::string origin = lower_origin(listed.substr(at, end - at));
        if (is_plain_origin(origin))
            frame_ancestors_ += " " + origin;
        if (!origin.empty())
            listed_.push_back(std::move(origin));
        at = end;
    }
}

OriginVerdict OriginPolicy::judge(const HttpRequest& req) const
{
    std::optional<std::string_view> named;
    if (const auto origin = req.find(http::field::origin); origin != req.end()) {
        named = origin->value();
    } else {
        const auto fetch_site = req.find(http::field::sec_fetch_site);
        if (fetch_site == req.end() || from_own_pages(fetch_site->value()))
            return {};
        if (const auto referer = req.find(http::field::referer); referer != req.end())
            named = url_origin(referer->value());
        if (!named)
            return {OriginVerdict::no_origin, {}};
    }
    const std::string origin = lower_origin(*named);
    if (is_local_origin(origin) || std::find(listed_.begin(), listed_.end(), origin) != listed_.end())
        return {};
    return {OriginVerdict::foreign_origin, std::string(named->substr(0, kMaxLoggedOrigin))};
}

}  // namespace web
