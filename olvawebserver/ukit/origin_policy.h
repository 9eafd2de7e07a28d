// Which web pages may drive the service. Any page the user visits can open
// ws://127.0.0.1:8054/ or post to the API; the Host check does not stop it,
// but its browser names the page's origin in the Origin header, which the
// page cannot change. Allowed: no Origin (not a browser), the local origins
// (http or https with host localhost, 127.0.0.1 or [::1], any port) and the
// origins the user lists in "config.ini" (key "allowed_origins", e.g.
// "https://crm.example.com, http://intranet:8080"). "null" passes only when
// listed: a page opened from a local file sends it, but so does a sandboxed
// iframe on any site, and the two cannot be told apart.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "ukit/http_types.h"

namespace web {

class OriginPolicy {
public:
    // The most refused origins remembered for the log; the log names each
    // once, and once full, later new ones are refused without a line.
    static constexpr std::size_t kMaxRefusedOrigins = 256;

    OriginPolicy() = default;
    // listed: origins separated by commas or blanks; letters compare
    // without regard to case, a final '/' is ignored.
    explicit OriginPolicy(std::string_view listed);

    bool allows(const HttpRequest& req) const;
    // True the first time origin is refused, so that its log line is
    // written once however often a page retries.
    bool first_refusal(std::string_view origin);

    const std::vector<std::string>& listed() const { return listed_; }

private:
    std::vector<std::string> listed_;  // lower case, no final '/'
    std::set<std::string, std::less<>> refused_;
};

// The Origin header as the log shows it: at most 128 bytes.
std::string origin_for_log(const HttpRequest& req);

}  // namespace web
