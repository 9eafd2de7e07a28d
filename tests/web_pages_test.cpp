// The help and self-test pages in a real browser (headless Chromium),
// served by the running service over the fake device library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "cavrel_olva.h"
#include "support/eventually.h"
#include "support/headless_browser.h"
#include "support/sound_file.h"
#include "support/upload_server.h"
#include "support/web_fixture.h"

namespace olva_test {
namespace {

constexpr const char* kEventsShown = "document.getElementById('events').textContent";
constexpr const char* kGreeting = "document.getElementById('greeting').textContent";
constexpr const char* kLineHandles =
    "[...document.querySelectorAll('#lines tr')].map(r => r.cells[0].textContent).join(',')";
// What the test pages of other sites show in their #out.
constexpr const char* kOutShown = "document.getElementById('out').textContent";
// Two other sites, served by a local server of the test: one the user does
// not know, one the user may allow.
constexpr const char* kForeignSite = "foreign.example";
constexpr const char* kFriendSite = "friend.example";

class WebPagesTest : public WebServiceTest {
protected:
    void SetUp() override
    {
        if (!have_program(HeadlessBrowser::kProgram))
            GTEST_SKIP() << "the page tests need " << HeadlessBrowser::kProgram;
        WebServiceTest::SetUp();
        // The pages as they are installed beside the program.
        std::filesystem::copy(OLVA_WEBROOT_DIR, app_dir_ + "/webroot",
                              std::filesystem::copy_options::recursive |
                                  std::filesystem::copy_options::overwrite_existing);
    }

    // Opens path of the service in the browser.
    void open(const std::string& path)
    {
        std::string error;
        ASSERT_TRUE(browser_.open("http://127.0.0.1:" + std::to_string(port_) + path,
                                  temp_.file("chromium"), &error))
            << error;
    }

    std::string service() const { return "http://127.0.0.1:" + std::to_string(port_); }

    // Opens the page of a local server under the name of another site.
    void open_site(const char* site, unsigned short site_port)
    {
        std::string error;
        ASSERT_TRUE(browser_.open("http://" + std::string(site) + ":" + std::to_string(site_port) + "/",
                                  temp_.file("chromium"), &error,
                                  {"--host-resolver-rules=MAP " + std::string(kForeignSite) + " 127.0.0.1, MAP " +
                                   kFriendSite + " 127.0.0.1"}))
            << error;
    }

    // A page that asks the service what a page may ask without an Origin:
    // a recording as <audio> does, the records as <img> does, the settings
    // with a no-cors fetch. Each outcome is added to its #out.
    std::string simple_requests_page(const std::string& recording) const
    {
        return "<!DOCTYPE html><html><body><pre id=out></pre><script>"
               "const say = t => { document.getElementById('out').textContent += t + '\\n'; };"
               "const audio = new Audio('" + service() + "/playaudiofile?filename=" + recording + "');"
               "audio.onloadedmetadata = () => say('audio:duration:' + audio.duration);"
               "audio.onerror = () => say('audio:error');"
               "const img = new Image();"
               "img.onload = () => say('img:loaded');"
               "img.onerror = () => say('img:error');"
               "img.src = '" + service() + "/getRecord';"
               "fetch('" + service() + "/GetConfigParam', {mode: 'no-cors'})"
               ".then(r => say('fetch:' + r.type + ':' + r.status), e => say('fetch:failed'));"
               "</script></body></html>";
    }

    // The page's #out once each of the needles shows in it.
    std::string wait_for_outcomes(std::initializer_list<const char*> needles)
    {
        std::string last;
        for (const char* needle : needles)
            EXPECT_TRUE(browser_.wait_until_holds(kOutShown, needle, &last)) << needle << "\n" << last;
        return browser_.evaluate(kOutShown).value_or("(no value)");
    }

    // JavaScript that tries what a hostile page would: the WebSocket and a
    // POST deleting record 1 (no-cors, which needs no permission of the
    // service to be sent). Each outcome goes to report(text) with the
    // prefix. Single quotes only, so that it fits in an attribute.
    std::string probe_script(const std::string& report, const std::string& prefix) const
    {
        const std::string service = "127.0.0.1:" + std::to_string(port_);
        return "(function () {"
               "const say = t => (" + report + ")('" + prefix + "' + t);"
               "say('origin:' + self.origin);"
               "const ws = new WebSocket('ws://" + service + "/');"
               "ws.onmessage = e => say('ws:message:' + e.data.slice(0, 17));"
               "ws.onclose = e => say('ws:closed:' + e.code);"
               "fetch('http://" + service + "/deleteRecord', {method: 'POST', mode: 'no-cors',"
               " body: JSON.stringify([{ID: 1}])}).then(r => say('post:sent'), e => say('post:failed'));"
               "})();";
    }

    // Adds record 1 and returns the ids listed.
    std::string add_record_one()
    {
        const HttpResult added = request("/addRecord", R"({"lineId":257,"phoneNumber":"10086"})");
        EXPECT_EQ(added.body, "{ \"code\": 200, \"id\":1}");
        return record_ids();
    }

    std::string record_ids() const
    {
        const HttpResult listed = request("/getRecord", "{}");
        std::string ids;
        for (std::size_t at = 0; (at = listed.body.find("\"ID\":\t", at)) != std::string::npos;) {
            at += 6;
            ids += listed.body.substr(at, listed.body.find_first_of(",\n", at) - at) + ";";
        }
        return ids;
    }

    HeadlessBrowser browser_;
};

TEST_F(WebPagesTest, SelfTestPageShowsTheGreetingEventsLinesAndSendsCommands)
{
    start();
    open("/test/index.html");
    const std::string greeting =
        "{\"event\":\"joined\",\"OS\":\"linux\",\"path\":\"" + app_dir_ + "/\"}";
    std::string last;
    ASSERT_TRUE(browser_.wait_until_holds(kGreeting, greeting, &last)) << last;
    // The page asks for the lines as soon as it is greeted: none yet.
    ASSERT_TRUE(browser_.wait_until_holds(kEventsShown, "\"channels\":[]", &last)) << last;

    raise(0x101, OLVA_EVENT_PLUG_IN);
    EXPECT_TRUE(browser_.wait_until_holds(kEventsShown, "{\"event\":\"plugin\",\"handle\":257}", &last))
        << last;
    // A plug-in makes the page read the lines again.
    EXPECT_TRUE(browser_.wait_until_holds(kLineHandles, "257", &last)) << last;
    EXPECT_EQ(last, "257");

    // An indented event text, and a caller number that is markup, shown as text.
    raise(0x101, OLVA_EVENT_SIM_STATE, 1, 2);
    EXPECT_TRUE(browser_.wait_until_holds(kEventsShown, "\"event\":\t\"simstate\"", &last)) << last;
    const std::string number = "<b id=injected>1</b>";
    raise(0x101, OLVA_EVENT_CALLER_ID, olva_fake::text_param(number));
    EXPECT_TRUE(browser_.wait_until_holds(kEventsShown, "\"callernumber\":\"<b id=injected>1</b>\"", &last))
        << last;
    EXPECT_EQ(browser_.evaluate("document.getElementById('injected') === null"), "true");

    // A command button sends its frame for the chosen line.
    olva_fake::set_result("olva_get_product_ID", 3);
    ASSERT_EQ(browser_.evaluate("document.getElementById('cmd-GetProductID').click()"), "undefined");
    EXPECT_TRUE(olva_fake::wait_for_call("olva_get_product_ID(257)"));
    EXPECT_TRUE(browser_.wait_until_holds(
        kEventsShown, "{\"event\":\"answer\",\"type\":\"GetProductID\",\"handle\":257,\"result\":\"3\"}",
        &last))
        << last;

    raise(0x101, OLVA_EVENT_PLUG_OUT);
    EXPECT_TRUE(browser_.wait_until_holds(kEventsShown, "{\"event\":\"plugout\",\"handle\":257}", &last))
        << last;
    EXPECT_TRUE(browser_.wait_until_holds("String(" + std::string(kLineHandles) + ".length === 0)",
                                          "true", &last))
        << last;
}

TEST_F(WebPagesTest, EveryCommandButtonSendsAFrameTheServiceRuns)
{
    start();
    open("/test/index.html");
    std::string last;
    ASSERT_TRUE(browser_.wait_until_holds(kGreeting, "joined", &last)) << last;
    raise(0x101, OLVA_EVENT_PLUG_IN);
    ASSERT_TRUE(browser_.wait_until_holds(kLineHandles, "257", &last)) << last;

    // One button per command of the service, in its group.
    const auto buttons = browser_.evaluate(
        "[...document.querySelectorAll('button[id^=cmd-]')].map(b => b.id.slice(4)).sort().join(',')");
    std::vector<std::string> names;
    for (const std::string_view name : COlvaMgr::command_names())
        names.emplace_back(name);
    std::sort(names.begin(), names.end());
    std::string expected;
    for (const std::string& name : names)
        expected += (expected.empty() ? "" : ",") + name;
    EXPECT_EQ(buttons, expected);
    for (const char* group : {"service", "line", "audio", "gsm", "files"})
        EXPECT_EQ(browser_.evaluate("String(document.querySelectorAll('#group-" + std::string(group) +
                                    " button[id^=cmd-]').length > 0)"),
                  "true")
            << group;

    olva_fake::set_result("olva_send_gsm_msg", 1);
    const auto clicked = browser_.evaluate(
        "[...document.querySelectorAll('button[id^=cmd-]')].map(b => (b.click(), b.id)).length");
    EXPECT_EQ(clicked, std::to_string(names.size()));
    // The members each frame carries are those the service reads.
    for (const char* call :
         {"olva_get_device_versionnum(257)", "olva_get_product_ID(257)", "olva_get_usernum(257,16)",
          "olva_start_read_line_voltage(257)", "olva_stop_read_line_voltage(257)", "olva_soft_hook_off(257)",
          "olva_soft_hook_on(257)", "olva_send_dtmf(257,123#)", "olva_record_file(257,/tmp/test.wav,0)",
          "olva_stop_record(257)", "olva_play_file(257,/tmp/test.wav)", "olva_stop_play(257)",
          "olva_set_record_enable(257,1,1)", "olva_set_talk_link(257,1,1)", "olva_makecall(257,10086)",
          "olva_reject_call(257)", "olva_makecallSlic(257,1000,4000,10086)", "olva_send_gsm_cmd(257,AT+CSQ,6)",
          "olva_select_simcard(257,1)", "olva_gsm_power(257,1)", "olva_gsm_bootkey(257,1)",
          "olva_query_gsm_msg_number(257)", "olva_send_gsm_msg(257,1,10086,自检测试,12)",
          "olva_query_gsm_msgEx(257,1)", "olva_delete_gsm_msg(257,0,1)", "olva_judge_file_size(/tmp/test.wav)",
          "olva_delete_file(/tmp/test.wav)", "olva_uploadFile(http://127.0.0.1/upload,file,/tmp/test.wav)"})
        EXPECT_TRUE(olva_fake::wait_for_call(call)) << call;
    EXPECT_TRUE(browser_.wait_until_holds(
        kEventsShown, "{\"event\":\"answer\",\"type\":\"uwebclose\",\"handle\":0,\"result\":\"\"}", &last))
        << last;
    // The uploads: the plain one is tried, the form queued with its members.
    EXPECT_TRUE(browser_.wait_until_holds(kEventsShown, "\"errorType\":\"UploadFileEx\"", &last)) << last;
    EXPECT_TRUE(wait_for_log("UploadFormFile utf8_url:http://127.0.0.1/upload"));
    EXPECT_TRUE(wait_for_log("UploadFormFile utf8_param:test"));
    EXPECT_TRUE(wait_for_log("UploadFormFile utf8_filename:test.wav"));
    EXPECT_TRUE(wait_for_log("UploadFormFile uft8_localfilename:/tmp/test.wav"));
    EXPECT_TRUE(wait_for_log("start get sysinfo  from addr:127.0.0.1:"));
    EXPECT_EQ(log_text().find("other msg recv"), std::string::npos);
}

// Every kind of text the page receives is counted, the close frame's
// reason too.
TEST_F(WebPagesTest, SelfTestPageCountsEachKindOfEventItReceives)
{
    start();
    open("/test/index.html");
    std::string last;
    ASSERT_TRUE(browser_.wait_until_holds(kGreeting, "joined", &last)) << last;
    raise(0x101, OLVA_EVENT_PLUG_IN);
    raise(0x101, OLVA_EVENT_LINE_RING);
    raise(0x101, OLVA_EVENT_LINE_RING);
    raise(0x101, OLVA_EVENT_SIGNAL_SIZE, 80);
    const std::string kinds = "[...document.querySelectorAll('#kinds code')].map(c => c.textContent).join(',')";
    EXPECT_TRUE(browser_.wait_until_holds(kinds, "ring ×2", &last)) << last;
    EXPECT_TRUE(browser_.wait_until_holds(kinds, "signalsize ×1", &last)) << last;
    EXPECT_TRUE(browser_.wait_until_holds(kinds, "joined ×1", &last)) << last;
    EXPECT_TRUE(browser_.wait_until_holds(kinds, "getinfo ×2", &last)) << last;

    // A second client pushes the page out: it shows why.
    auto other = WsClient::connect(client_options());
    ASSERT_TRUE(other);
    EXPECT_TRUE(browser_.wait_until_holds(kinds, "left ×1", &last)) << last;
    EXPECT_TRUE(browser_.wait_until_holds(kEventsShown, "关闭 1000 {\"event\":\"left\"}", &last)) << last;
}

// A site the user merely visits, and a sandboxed iframe on it (which sends
// the origin "null"), can neither join the WebSocket nor delete a record;
// the user's own page stays connected, although the service keeps only one
// client.
TEST_F(WebPagesTest, AForeignSiteAndItsSandboxedFrameAreRefused)
{
    start();
    ASSERT_EQ(add_record_one(), "1;");
    auto own = connect();
    ASSERT_TRUE(own);

    const std::string frame_script = probe_script("t => parent.postMessage(t, '*')", "frame:");
    const std::string page =
        "<!DOCTYPE html><html><head><title>foreign</title></head><body><pre id=out></pre><script>"
        "const show = t => { document.getElementById('out').textContent += t + '\\n'; };"
        "window.addEventListener('message', e => show(String(e.data)));" +
        probe_script("show", "top:") +
        "</script><iframe sandbox=\"allow-scripts\" srcdoc=\"<script>" + frame_script +
        "</script>\"></iframe></body></html>";
    UploadServer foreign;
    foreign.reply_with({200, page});
    open_site(kForeignSite, foreign.port());
    const std::string shown = wait_for_outcomes({"frame:origin:null", "frame:ws:closed:1006", "frame:post:sent",
                                                 "top:origin:http://foreign.example:", "top:ws:closed:1006",
                                                 "top:post:sent"});
    EXPECT_EQ(shown.find("ws:message"), std::string::npos) << shown;

    EXPECT_EQ(record_ids(), "1;") << "nothing deleted";
    EXPECT_TRUE(wait_for_log(" refused a page of origin (null): not local and not in allowed_origins"));
    EXPECT_TRUE(wait_for_log(" refused a page of origin (http://foreign.example:"));
    // Nobody pushed the user's page out.
    EXPECT_NE(getinfo(*own).find("\"event\":\"getinfo\""), std::string::npos);
    EXPECT_FALSE(own->got_close_frame());
}

// A page of another site asks without an Origin, as <audio>, <img> and a
// no-cors fetch do: it could learn whether a recording exists and how long
// it is, or keep the service busy. Its browser says the request comes from
// another site, and the page's address in the Referer is not allowed: the
// service refuses, logs it once and does none of the work. The service's
// own page and a program still get the recording.
TEST_F(WebPagesTest, AForeignPagesRequestsWithoutAnOriginAreRefused)
{
    start();
    // A record, so that its listing is logged as the route's work.
    ASSERT_EQ(request("/addRecord", "{}").body, "{ \"code\": 200, \"id\":1}");
    const std::string recording = app_dir_ + "/call.wav";
    ASSERT_TRUE(writeSoundFile(recording, SF_FORMAT_WAV | SF_FORMAT_PCM_16, std::vector<std::int16_t>(8000)));
    const std::string page = simple_requests_page(recording);

    UploadServer foreign;
    foreign.reply_with({200, page});
    open_site(kForeignSite, foreign.port());
    const std::string refused_shown = wait_for_outcomes({"audio:", "img:", "fetch:"});
    EXPECT_NE(refused_shown.find("audio:error"), std::string::npos) << refused_shown;
    EXPECT_EQ(refused_shown.find("audio:duration"), std::string::npos) << refused_shown;
    EXPECT_NE(refused_shown.find("fetch:opaque:0"), std::string::npos) << refused_shown;
    // Every reply has come, so each route would have logged its work by now.
    const std::string log = log_text();
    const std::string refused = " refused a page of origin (http://foreign.example:" +
                                std::to_string(foreign.port()) + "): not local and not in allowed_origins";
    const std::size_t first = log.find(refused);
    EXPECT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find(refused, first + 1), std::string::npos) << "once";
    const char* kWorkDone[] = {"   recv query string:", "   recourd count:", "   get  config param"};
    for (const char* work : kWorkDone)
        EXPECT_EQ(log.find(work), std::string::npos) << work;

    // The same page from the service itself.
    writeFile(app_dir_ + "/webroot/own.html", page);
    browser_.evaluate("location.href = '" + service() + "/own.html'");
    const std::string own_shown = wait_for_outcomes({"audio:duration:1", "img:", "fetch:basic:200"});
    EXPECT_EQ(own_shown.find("audio:error"), std::string::npos) << own_shown;
    for (const char* work : kWorkDone)
        EXPECT_TRUE(wait_for_log(work)) << work;

    // A program sends none of these headers.
    const HttpResult program = request("/playaudiofile?filename=" + recording, "", "GET");
    EXPECT_EQ(program.status, 200) << program.error;
    EXPECT_EQ(program.body, readFile(recording));
}

// A page of another site frames the service's own pages: hidden under its
// own, they could be clicked through a disguise, and each load of the
// self-test page would push the user's page off the one connection the
// service keeps. The browser leaves such frames empty; a site the user
// allows may frame them.
TEST_F(WebPagesTest, OnlyTheServiceAndAllowedSitesFrameItsPages)
{
    UploadServer sites;
    start("allowed_origins=http://" + std::string(kFriendSite) + ":" + std::to_string(sites.port()) + "\n");
    ASSERT_EQ(request("/addRecord", "{}").body, "{ \"code\": 200, \"id\":1}");
    // A frame of this page that comes in lists the records before its load
    // ends: the log tells whether it came in.
    writeFile(app_dir_ + "/webroot/framed.html",
              "<!DOCTYPE html><html><body><img src=\"/getRecord\"></body></html>");
    const auto frame = [&](const char* id, const char* path) {
        return "<iframe id=" + std::string(id) + " onload=\"document.getElementById('out').textContent += 'loaded:" +
               id + "\\n'\" src=\"" + service() + path + "\"></iframe>";
    };
    sites.reply_with({200, "<!DOCTYPE html><html><body><pre id=out></pre>" + frame("ui", "/test/index.html") +
                               frame("marker", "/framed.html") + "</body></html>"});
    auto own = connect();
    ASSERT_TRUE(own);

    open_site(kForeignSite, sites.port());
    wait_for_outcomes({"loaded:ui", "loaded:marker"});
    const std::string log = log_text();
    EXPECT_EQ(log.find("   recourd count:"), std::string::npos) << "the framed page came in";
    // The user's page still holds the one connection.
    EXPECT_NE(getinfo(*own).find("\"event\":\"getinfo\""), std::string::npos);
    EXPECT_FALSE(own->got_close_frame());
    const std::size_t joined = log.find("new connect from");
    EXPECT_EQ(log.find("new connect from", joined + 1), std::string::npos) << "the framed self-test page joined";

    browser_.evaluate("location.href = 'http://" + std::string(kFriendSite) + ":" + std::to_string(sites.port()) +
                      "/'");
    EXPECT_TRUE(wait_for_log("   recourd count:")) << "the allowed site's frame stays empty";
    // Its self-test page joins, and the service keeps the newest client.
    EXPECT_TRUE(own->wait_closed());
}

// A page opened from a file sends "null" too: the user lets such pages in by
// listing "null", and only then.
TEST_F(WebPagesTest, ALocalFilePageGetsInOnlyWithNullListed)
{
    for (const bool listed : {false, true}) {
        SCOPED_TRACE(listed);
        start(listed ? "allowed_origins=null\n" : "");
        ASSERT_EQ(add_record_one(), "1;");
        const std::string file = temp_.file(listed ? "listed.html" : "unlisted.html");
        writeFile(file, "<!DOCTYPE html><html><body><pre id=out></pre><script>" +
                            probe_script("t => { document.getElementById('out').textContent += t + '\\n'; }", "") +
                            "</script></body></html>");
        HeadlessBrowser browser;
        std::string error;
        ASSERT_TRUE(browser.open("file://" + file, temp_.file(listed ? "chromium-listed" : "chromium"), &error))
            << error;
        const std::string shown = "document.getElementById('out').textContent";
        std::string last;
        EXPECT_TRUE(browser.wait_until_holds(shown, "origin:null", &last)) << last;
        EXPECT_TRUE(browser.wait_until_holds(shown, "post:", &last)) << last;
        if (listed) {
            EXPECT_TRUE(browser.wait_until_holds(shown, "ws:message:{\"event\":\"joined\"", &last)) << last;
            EXPECT_TRUE(eventually([&] { return record_ids().empty(); }, kWait)) << "record 1 deleted";
        } else {
            EXPECT_TRUE(browser.wait_until_holds(shown, "ws:closed:1006", &last)) << last;
            EXPECT_EQ(record_ids(), "1;");
        }
        uWebMgr.close_uWeb();
        std::filesystem::remove(uWebMgr.work_path() + "olva.db");
    }
}

TEST_F(WebPagesTest, HelpPageNamesTheAddressesInChinese)
{
    start();
    open("/doc/index.html");
    std::string last;
    EXPECT_TRUE(browser_.wait_until_holds("document.title", "帮助", &last)) << last;
    EXPECT_TRUE(browser_.wait_until_holds("document.body.textContent", "ws://127.0.0.1:8054/", &last));
    EXPECT_TRUE(browser_.wait_until_holds("document.body.textContent",
                                          "http://127.0.0.1:8054/test/index.html", &last));
    EXPECT_TRUE(browser_.wait_until_holds("document.body.textContent",
                                          "{\"event\":\"GetProductID\",\"handle\":257}", &last));
}

}  // namespace
}  // namespace olva_test
