#include "ukit/origin_policy.h"

#include <algorithm>
#include <cctype>

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

}  // namespace

OriginPolicy::OriginPolicy(std::string_view listed)
{
    constexpr std::string_view kSeparators = ", \t";
    std::size_t at = 0;
    while ((at = listed.find_first_not_of(kSeparators, at)) != std::string_view::npos) {
        const std::size_t end = std::min(listed.find_first_of(kSeparators, at), listed.size());
        std::string origin = lower_origin(listed.substr(at, end - at));
        if (!origin.empty())
            listed_.push_back(std::move(origin));
        at = end;
    }
}

bool OriginPolicy::allows(const HttpRequest& req) const
{
    const auto field = req.find(http::field::origin);
    if (field == req.end())
        return true;
    const std::string origin = lower_origin(field->value());
    return is_local_origin(origin) ||
           std::find(listed_.begin(), listed_.end(), origin) != listed_.end();
}

bool OriginPolicy::first_refusal(std::string_view origin)
{
    if (refused_.contains(origin) || refused_.size() >= kMaxRefusedOrigins)
        return false;
    refused_.emplace(origin);
    return true;
}

std::string origin_for_log(const HttpRequest& req)
{
    const std::string_view origin = req[http::field::origin];
    return std::string(origin.substr(0, kMaxLoggedOrigin));
}

}  // namespace web
