// The help and self-test pages in a real browser (headless Chromium),
// served by the running service over the fake device library.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "cavrel_olva.h"
#include "support/eventually.h"
#include "support/headless_browser.h"
#include "support/upload_server.h"
#include "support/web_fixture.h"

namespace olva_test {
namespace {

constexpr const char* kEventsShown = "document.getElementById('events').textContent";
constexpr const char* kGreeting = "document.getElementById('greeting').textContent";
constexpr const char* kLineHandles =
    "[...document.querySelectorAll('#lines tr')].map(r => r.cells[0].textContent).join(',')";

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
    std::string error;
    ASSERT_TRUE(browser_.open("http://foreign.example:" + std::to_string(foreign.port()) + "/",
                              temp_.file("chromium"), &error,
                              {"--host-resolver-rules=MAP foreign.example 127.0.0.1"}))
        << error;
    const std::string shown = "document.getElementById('out').textContent";
    std::string last;
    for (const char* outcome : {"frame:origin:null", "frame:ws:closed:1006", "frame:post:sent",
                                "top:origin:http://foreign.example:", "top:ws:closed:1006", "top:post:sent"})
        EXPECT_TRUE(browser_.wait_until_holds(shown, outcome, &last)) << outcome << "\n" << last;
    EXPECT_EQ(last.find("ws:message"), std::string::npos) << last;

    EXPECT_EQ(record_ids(), "1;") << "nothing deleted";
    EXPECT_TRUE(wait_for_log(" refused a page of origin (null): not local and not in allowed_origins"));
    EXPECT_TRUE(wait_for_log(" refused a page of origin (http://foreign.example:"));
    // Nobody pushed the user's page out.
    EXPECT_NE(getinfo(*own).find("\"event\":\"getinfo\""), std::string::npos);
    EXPECT_FALSE(own->got_close_frame());
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
