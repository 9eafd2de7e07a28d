// Which web pages may drive the service. Any page the user visits can open
// ws://127.0.0.1:8054/ or post to the API; the Host check does not stop it,
// but its browser names the page's origin in the Origin header, which the
// page cannot change. Allowed: the local origins (http or https with host
// localhost, 127.0.0.1 or [::1], any port) and the origins the user lists in
// "config.ini" (key "allowed_origins", e.g.
// "https://crm.example.com, http://intranet:8080"). "null" passes only when
// listed: a page opened from a local file sends it, but so does a sandboxed
// iframe on any site, and the two cannot be told apart.
//
// A browser sends no Origin on a simple GET (<audio src>, <img>, a no-cors
// fetch), but it says in Sec-Fetch-Site where every request comes from, and
// a page cannot change that either. A request from another site
// ("cross-site", "same-site", or a value we do not know) is judged by the
// origin of its Referer instead, and refused when it names neither. A
// request without any of these headers comes from a program, not a page,
// and passes; so do the user's own navigations ("none") and the service's
// own pages ("same-origin").
//
// The same origins, and the service's own, may frame its pages; no other
// page can then hide them under its own to have the user click them, or
// load them to push the user's page off the one connection kept.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "ukit/first_refusals.h"
#include "ukit/http_types.h"

namespace web {

struct OriginVerdict {
    enum Outcome { allowed, foreign_origin, no_origin };
    Outcome outcome = allowed;
    // The origin judged, at most 128 bytes: the Origin header or the
    // origin of the Referer; empty when the request named none.
    std::string origin;
};

class OriginPolicy {
public:
    // The most refused origins remembered for the log; the log names each
    // once, and once full, later new ones are refused without a line.
    static constexpr std::size_t kMaxRefusedOrigins = 256;

    OriginPolicy();
    // listed: origins separated by commas or blanks; letters compare
    // without regard to case, a final '/' is ignored.
    explicit OriginPolicy(std::string_view listed);

    // Depends on the request's headers and the listed origins only.
    OriginVerdict judge(const HttpRequest& req) const;
    // True the first time origin is refused, so that its log line is
    // written once however often a page retries. A request that named no
    // origin counts as the origin "".
    bool first_refusal(std::string_view origin) { return refused_.first_refusal(origin); }

    const std::vector<std::string>& listed() const { return listed_; }
    // The Content-Security-Policy of every reply: "frame-ancestors 'self'"
    // and the listed origins that a browser can match there. Entries that
    // are no plain origin ("null", a path, a wildcard, stray punctuation)
    // are left out: no browser sends them as a framing page's origin, and
    // written into the header they could add sources or directives.
    const std::string& frame_ancestors() const { return frame_ancestors_; }

private:
    std::vector<std::string> listed_;  // lower case, no final '/'
    std::string frame_ancestors_;
    FirstRefusals<std::string, kMaxRefusedOrigins> refused_;
};

}  // namespace web
