// The help and self-test pages in a real browser (headless Chromium),
// served by the running service over the fake device library.
#include <gtest/gtest.h>

#include <filesystem>

#include "cavrel_olva.h"
#include "support/headless_browser.h"
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

    const auto clicked = browser_.evaluate(
        "[...document.querySelectorAll('button[id^=cmd-]')].map(b => (b.click(), b.id)).join(',')");
    EXPECT_EQ(clicked,
              "cmd-getinfo,cmd-getsysteminfo,cmd-GetVoiceFileNames,cmd-allmsg,cmd-uwebclose,"
              "cmd-GetDeviceVersionNum,cmd-GetProductID,cmd-StartReadLineVoltage,"
              "cmd-StopReadLineVoltage,cmd-RecordFile,cmd-StopRecord,cmd-JudgeFileSize,"
              "cmd-OLVADeletefile,cmd-UploadFile");
    // The members each frame carries are those the service reads.
    for (const char* call : {"olva_get_device_versionnum(257)", "olva_get_product_ID(257)",
                             "olva_start_read_line_voltage(257)", "olva_stop_read_line_voltage(257)",
                             "olva_record_file(257,/tmp/test.wav,0)", "olva_stop_record(257)",
                             "olva_judge_file_size(/tmp/test.wav)", "olva_delete_file(/tmp/test.wav)",
                             "olva_uploadFile(http://127.0.0.1/upload,file,/tmp/test.wav)"})
        EXPECT_TRUE(olva_fake::wait_for_call(call)) << call;
    EXPECT_TRUE(browser_.wait_until_holds(
        kEventsShown, "{\"event\":\"answer\",\"type\":\"uwebclose\",\"handle\":0,\"result\":\"\"}", &last))
        << last;
    EXPECT_TRUE(wait_for_log("start get sysinfo  from addr:127.0.0.1:"));
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
