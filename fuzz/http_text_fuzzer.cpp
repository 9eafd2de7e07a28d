// Texts of HTTP requests from outside: the input's lines are a request
// target, a query variable's name, a Host header, the "allowed_origins"
// setting, an Origin header, a Referer header and a Sec-Fetch-Site header
// (an empty line leaves a header out).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "input_lines.h"
#include "ukit/http_util.h"
#include "ukit/origin_policy.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string_view target = fuzz::next_line(text);
    const std::string_view name = fuzz::next_line(text);
    const std::string_view host = fuzz::next_line(text);
    const std::string_view listed = fuzz::next_line(text);
    const std::string_view origin = fuzz::next_line(text);
    const std::string_view referer = fuzz::next_line(text);
    const std::string_view fetch_site = fuzz::next_line(text);

    std::string value;
    web::get_query_var(web::target_query(target), name, value);
    web::get_query_var(web::target_query(target), name, value, 4);
    for (const bool form : {false, true})
        web::url_decode(web::target_path(target), form, value);
    web::is_local_host(host);

    web::HttpRequest req;
    if (!origin.empty())
        req.set(web::http::field::origin, origin);
    if (!referer.empty())
        req.set(web::http::field::referer, referer);
    if (!fetch_site.empty())
        req.set(web::http::field::sec_fetch_site, fetch_site);
    web::OriginPolicy policy(listed);
    const web::OriginVerdict verdict = policy.judge(req);
    if (verdict.outcome != web::OriginVerdict::allowed)
        policy.first_refusal(verdict.origin);
    return 0;
}
