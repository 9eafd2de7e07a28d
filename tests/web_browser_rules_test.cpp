// What the running service tells browsers apart by, over real HTTP: where a
// request says it comes from when it names no Origin, and who may frame
// the replies. Chromium itself meets the same rules in web_pages_test.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "support/web_fixture.h"

namespace olva_test {
namespace {

using WebBrowserRules = WebServiceTest;

// Each route of the HTTP API and the WebSocket upgrade, for a request as a
// browser sends it without an Origin: from another site it needs the origin
// of its Referer to be local or allowed, while a program, the user's own
// navigation and the service's own pages pass. Static files are left to the
// browser's own rules.
TEST_F(WebBrowserRules, RequestsOfOtherSitesWithoutAnOriginAreJudgedByTheirReferer)
{
    start("allowed_origins=https://crm.example.com\n");
    writeFile(app_dir_ + "/webroot/a.txt", "hello");
    const struct {
        const char* what;
        std::map<std::string, std::string> headers;
        bool allowed;
    } cases[] = {
        {"a program", {}, true},
        {"the user's own navigation", {{"Sec-Fetch-Site", "none"}}, true},
        {"the service's own page", {{"Sec-Fetch-Site", "same-origin"}}, true},
        {"another site naming nothing", {{"Sec-Fetch-Site", "cross-site"}}, false},
        {"a local page on another port", {{"Sec-Fetch-Site", "same-site"}, {"Referer", "http://localhost:3000/"}}, true},
        {"a local page that hides its address", {{"Sec-Fetch-Site", "same-site"}}, false},
        {"an allowed site", {{"Sec-Fetch-Site", "cross-site"}, {"Referer", "https://crm.example.com/app"}}, true},
        {"a foreign site", {{"Sec-Fetch-Site", "cross-site"}, {"Referer", "https://evil.example/a?b"}}, false},
        {"a value no browser sends", {{"Sec-Fetch-Site", "same-origin-ish"}}, false},
    };
    int allowed_cases = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        allowed_cases += c.allowed ? 1 : 0;
        ClientOptions options = client_options();
        options.headers = c.headers;
        int ws_status = 0;
        std::string error;
        auto client = WsClient::connect(options, &error, &ws_status);
        EXPECT_EQ(client != nullptr, c.allowed) << error;
        if (!client) {
            EXPECT_EQ(ws_status, 403);
        }
        client.reset();
        for (const std::string_view path : COlvaMgr::route_paths()) {
            SCOPED_TRACE(path);
            options.target = std::string(path);
            const HttpResult res = http_request(options, "POST", "{}");
            EXPECT_EQ(res.status == 403, !c.allowed) << res.status << " " << res.error;
        }
        options.target = "/a.txt";
        EXPECT_EQ(http_request(options).body, "hello");
    }
    // Each "/addRecord" let through added a record; no refused one did.
    EXPECT_EQ(request("/getRecordCount", "{}").body, formatted_json(R"({"code":200,"data":{"total":)" +
                                                                    std::to_string(allowed_cases) + "}}"));

    const std::string log = log_text();
    for (const std::string refused :
         {" refused a request of another site that names no origin: neither Origin nor a Referer with one",
          " refused a page of origin (https://evil.example): not local and not in allowed_origins"}) {
        const std::size_t first = log.find(refused);
        EXPECT_NE(first, std::string::npos) << refused;
        EXPECT_EQ(log.find(refused, first + 1), std::string::npos) << "once: " << refused;
    }
}

// Every reply, refusals and errors too, may be framed only by the service's
// own pages and the allowed sites; the listed entries that are no plain
// origin stay out of the header.
TEST_F(WebBrowserRules, EveryReplySaysWhoMayFrameIt)
{
    start("allowed_origins=https://crm.example.com null http://x.example;script-src https://*.example.com\n");
    writeFile(app_dir_ + "/webroot/a.txt", "hello");
    std::filesystem::create_directories(app_dir_ + "/webroot/sub");
    const std::string wav = app_dir_ + "/a.wav";
    writeFile(wav, "RIFF");

    const auto reply = [&](const std::string& target, const std::string& method = "GET",
                           const std::string& body = "", const std::string& origin = "",
                           const std::string& host = "") {
        ClientOptions options = client_options();
        options.target = target;
        options.origin = origin;
        options.host = host;
        return http_request(options, method, body);
    };
    const struct {
        const char* what;
        HttpResult result;
        int status;
    } cases[] = {
        {"a static file", reply("/a.txt"), 200},
        {"a static file's head", reply("/a.txt", "HEAD"), 200},
        {"a listing", reply("/"), 200},
        {"a folder's redirect", reply("/sub"), 301},
        {"a missing file", reply("/missing.txt"), 404},
        {"a path out of the root", reply("/%2e%2e/a.txt"), 400},
        {"a method static files do not take", reply("/a.txt", "POST", "x"), 405},
        {"an API reply", reply("/getRecord", "POST", "{}"), 200},
        {"a recording", reply("/playaudiofile?filename=" + wav), 200},
        {"a missing recording", reply("/downloadwav?filename=" + app_dir_ + "/b.wav"), 404},
        {"a foreign origin", reply("/getRecord", "POST", "{}", "https://evil.example"), 403},
        {"a foreign host", reply("/a.txt", "GET", "", "", "evil.example"), 403},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.result.status, c.status) << c.result.error;
        const auto header = [&](const char* name) {
            const auto found = c.result.headers.find(name);
            return found == c.result.headers.end() ? std::string("(none)") : found->second;
        };
        EXPECT_EQ(header("content-security-policy"), "frame-ancestors 'self' https://crm.example.com");
        EXPECT_EQ(header("x-frame-options"), "SAMEORIGIN");
    }
    // A body announced larger than any route takes is refused before it is read.
    const std::string too_large = raw_exchange(
        client_options(), "POST /addRecord HTTP/1.1\r\nHost: localhost\r\nContent-Length: 2000000\r\n\r\n");
    EXPECT_TRUE(too_large.starts_with("HTTP/1.1 413")) << too_large;
    EXPECT_NE(too_large.find("\r\nContent-Security-Policy: frame-ancestors 'self' https://crm.example.com\r\n"),
              std::string::npos)
        << too_large;
    EXPECT_NE(too_large.find("\r\nX-Frame-Options: SAMEORIGIN\r\n"), std::string::npos) << too_large;
}

}  // namespace
}  // namespace olva_test
