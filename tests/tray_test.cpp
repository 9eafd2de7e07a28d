// The tray program (over the fake device library) on a virtual display
// with a tray host: its icon, the first-run question, the menu, the exit
// confirmation, the exit codes and a failed start.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>

#include "base/base_ini.h"
#include "cavrel_olva.h"
#include "codecs/wave.h"
#include "support/busy_port.h"
#include "support/child_process.h"
#include "support/headless_browser.h"
#include "support/sound_file.h"
#include "support/temp_dir.h"
#include "support/web_client.h"
#include "support/x_session.h"

namespace olva_test {
namespace {

// The dialogs' captions: the first-run question, the About box and the
// exit confirmation share one; a failed start has its own.
constexpr const char* kCaption = "vude";
constexpr const char* kFailedStartCaption = "USB电话盒子Kit";
// Keys for the popup menu, which holds the keyboard while it is open.
constexpr const char* kMenuAbout = "Down Return";
constexpr const char* kMenuSelfTest = "Down Down Return";
constexpr const char* kMenuHelp = "Down Down Down Return";
constexpr const char* kMenuExit = "Up Return";
// The XPM's blue and the keys' white.
constexpr std::uint32_t kIconBlue = 0x1565C0;
constexpr std::uint32_t kIconWhite = 0xFFFFFF;
// Times the keys of an answer are sent to a box that stays, and how long a
// box that took them may take to go before they are sent again.
constexpr int kAnswerAttempts = 3;
constexpr auto kAnswerWait = std::chrono::seconds(5);
// The exit status of g_exit_code -1.
constexpr int kExitUnset = 255;
// How long a stop signal may take to end the program.
constexpr auto kStopTime = std::chrono::seconds(5);
#if defined(__SANITIZE_ADDRESS__)
// The leak check after main, over the toolkit's heap, takes seconds of its
// own on a loaded machine; the program's own shut-down keeps kStopTime.
constexpr auto kExitAfterStop = kWait;
#else
constexpr auto kExitAfterStop = kStopTime;
#endif

class TrayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string missing = XSession::missing_programs();
        if (!missing.empty())
            GTEST_SKIP() << "the tray tests need these programs: " << missing;
        app_dir_ = temp_.file("app");
        std::filesystem::create_directories(app_dir_ + "/webroot");
        std::string error;
        ASSERT_TRUE(x_.start(temp_.path(), &error)) << error;
    }

    // A sanitizer's report in the program's output; in a run that must end
    // with code 1 its exit code would not show it.
    void TearDown() override
    {
        app_.reset();
        for (int run = 1; run <= runs_; ++run) {
            const std::string text = readFile(temp_.file("run-" + std::to_string(run) + ".log"));
            EXPECT_EQ(text.find("Sanitizer"), std::string::npos) << text;
            EXPECT_EQ(text.find("runtime error:"), std::string::npos) << text;
        }
    }

    void write_config(const std::string& lines)
    {
        writeFile(app_dir_ + "/config.ini", "[CONFIG]\n" + lines);
    }

    int run_count() const
    {
        return readIntValue("CONFIG", "system_run_count", (app_dir_ + "/config.ini").c_str());
    }

    // program: the tray program over the fake library, or over the real
    // one with a simulated box (which takes no browser log).
    void start_app(const char* program = OLVA_TRAY_APP)
    {
        ++runs_;
        ChildOptions options;
        options.argv = {program, "--app-dir=" + app_dir_};
        if (program == std::string(OLVA_TRAY_APP))
            options.argv.push_back("--browser-log=" + browser_log());
        // English button labels, so that alt+n means No; no accessibility bus.
        options.env = {x_.display_env(), "GDK_BACKEND=x11", "LC_ALL=C.UTF-8", "NO_AT_BRIDGE=1"};
        options.output_file = output_file();
        std::string error;
        app_ = ChildProcess::start(options, &error);
        ASSERT_TRUE(app_) << error;
    }

    std::string output_file() const { return temp_.file("run-" + std::to_string(runs_) + ".log"); }
    std::string output() const { return readFile(output_file()); }
    std::string browser_log() const { return temp_.file("browser.log"); }

    bool wait_for_output(const std::string& text)
    {
        return eventually([&] { return output().find(text) != std::string::npos; });
    }

    bool wait_for_browser(const std::string& url)
    {
        return eventually(
            [&] { return readFile(browser_log()).find(url + "\n") != std::string::npos; });
    }

    std::optional<unsigned long> wait_for_icon()
    {
        std::optional<unsigned long> icon;
        eventually([&] { return (icon = x_.tray_icon_of(app_->pid())).has_value(); }, kWait,
                   kProcessLookPause);
        return icon;
    }

    std::optional<unsigned long> wait_for_box(const char* caption)
    {
        std::optional<unsigned long> box;
        eventually(
            [&] {
                const auto found = x_.windows_titled(app_->pid(), caption);
                if (!found.empty())
                    box = found.front();
                return box.has_value();
            },
            kWait, kProcessLookPause);
        return box;
    }

    // Answers the box with keys and waits until it has gone. On a loaded
    // machine a box just mapped may not take keys yet: they are sent again
    // while that same box stays.
    void answer(const char* caption, const char* keys)
    {
        const auto box = wait_for_box(caption);
        ASSERT_TRUE(box) << "no box " << caption << "\n" << output();
        const auto box_gone = [&] {
            return eventually(
                [&] { return std::ranges::count(x_.windows_titled(app_->pid(), caption), *box) == 0; },
                kAnswerWait, kProcessLookPause);
        };
        bool gone = false;
        for (int attempt = 0; attempt < kAnswerAttempts && !gone; ++attempt) {
            x_.focus_and_type(*box, keys);
            gone = box_gone();
        }
        ASSERT_TRUE(gone) << "box " << caption << " stayed after " << keys;
    }

    // Opens the icon's menu with the right button and picks an item.
    void choose_from_menu(unsigned long icon, const char* keys)
    {
        const auto where = x_.info(icon);
        ASSERT_TRUE(where);
        const auto before = x_.search("--onlyvisible --pid " + std::to_string(app_->pid()));
        x_.click(where->x + where->width / 2, where->y + where->height / 2, 3);
        ASSERT_TRUE(eventually(
            [&] {
                return x_.search("--onlyvisible --pid " + std::to_string(app_->pid())).size() >
                       before.size();
            },
            kWait, kProcessLookPause))
            << "the menu did not open";
        x_.type(keys);
    }

    TempDir temp_;
    XSession x_;
    std::string app_dir_;
    int runs_ = 0;
    std::unique_ptr<ChildProcess> app_;
};

TEST_F(TrayTest, FirstRunAsksThenTheMenuOpensPagesAndExitsWithZero)
{
    const unsigned short port = free_loopback_port();
    write_config("HttpPort=" + std::to_string(port) + "\n");
    start_app();
    const auto icon = wait_for_icon();
    ASSERT_TRUE(icon) << "no tray icon\n" << output();

    // No: the help page instead of an exit.
    answer(kCaption, "alt+n");
    const std::string pages = "http://127.0.0.1:" + std::to_string(port);
    EXPECT_TRUE(wait_for_browser(pages + "/doc/index.html")) << readFile(browser_log());
    EXPECT_EQ(run_count(), 1);

    // The icon as the tray shows it, once it is drawn again where the
    // question covered it.
    const auto where = x_.info(*icon);
    ASSERT_TRUE(where);
    EXPECT_GE(where->width, 16);
    EXPECT_GE(where->height, 16);
    const int area = where->width * where->height;
    int blue = 0;
    int white = 0;
    EXPECT_TRUE(eventually(
        [&] {
            const auto screen = x_.capture();
            if (!screen)
                return false;
            blue = screen->count_near(where->x, where->y, where->width, where->height, kIconBlue, 8);
            white = screen->count_near(where->x, where->y, where->width, where->height, kIconWhite, 8);
            return blue > area / 5 && white > area / 50;
        },
        kWait, kProcessLookPause))
        << blue << " blue and " << white << " white pixels of " << area;
    const std::string artefacts = OLVA_TEST_ARTEFACT_DIR;
    std::filesystem::create_directories(artefacts);
    EXPECT_TRUE(x_.screenshot(artefacts + "/tray_icon.png"));

    // The service behind the icon serves.
    ClientOptions http;
    http.port = port;
    EXPECT_EQ(http_request(http).status, 200);

    choose_from_menu(*icon, kMenuSelfTest);
    EXPECT_TRUE(wait_for_browser(pages + "/test/index.html")) << readFile(browser_log());
    std::filesystem::remove(browser_log());
    choose_from_menu(*icon, kMenuHelp);
    EXPECT_TRUE(wait_for_browser(pages + "/doc/index.html")) << readFile(browser_log());
    choose_from_menu(*icon, kMenuAbout);
    answer(kCaption, "Return");

    // No in the exit confirmation leaves everything running.
    choose_from_menu(*icon, kMenuExit);
    answer(kCaption, "alt+n");
    EXPECT_TRUE(app_->running());
    EXPECT_TRUE(tcp_connects("127.0.0.1", port));

    choose_from_menu(*icon, kMenuExit);
    answer(kCaption, "Return");
    EXPECT_EQ(app_->wait_exit(kWait), std::optional<int>(0)) << output();
    EXPECT_FALSE(tcp_connects("127.0.0.1", port));

    const std::string log = output();
    EXPECT_NE(log.find("  menu yes"), std::string::npos);
    const std::size_t first = log.find(" OlvaTaskExit++\n");
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find(" OlvaTaskExit++\n", first + 1), std::string::npos) << "service closed twice";
    EXPECT_NE(log.find("~OlvaTaskBarIcon--"), std::string::npos) << log;
    EXPECT_EQ(log.find(" close taskbar"), std::string::npos) << log;
}

TEST_F(TrayTest, SecondRunAsksNothing)
{
    write_config("HttpPort=0\n");
    start_app();
    ASSERT_TRUE(wait_for_icon()) << output();
    // Yes: the program ends at once, for the restart.
    answer(kCaption, "Return");
    EXPECT_EQ(app_->wait_exit(kWait), std::optional<int>(kExitUnset)) << output();
    EXPECT_EQ(readFile(browser_log()), "");
    EXPECT_EQ(run_count(), 1);

    start_app();
    ASSERT_TRUE(wait_for_output("OnInit--")) << output();
    EXPECT_TRUE(x_.windows_titled(app_->pid(), kCaption).empty());
    EXPECT_EQ(run_count(), 2);
    const auto icon = wait_for_icon();
    ASSERT_TRUE(icon) << output();
    choose_from_menu(*icon, kMenuExit);
    answer(kCaption, "Return");
    EXPECT_EQ(app_->wait_exit(kWait), std::optional<int>(0)) << output();
    EXPECT_EQ(readFile(browser_log()), "");
}

// A desktop logout sends SIGTERM, a terminal's ^C SIGINT: the whole service
// (real library, a simulated box) shuts down as its menu's exit does and
// ends with 0, and the recording in progress keeps a whole file.
TEST_F(TrayTest, StopSignalsShutDownLikeTheMenuAndKeepRecordingsWhole)
{
    for (const int signal_number : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal_number);
        const unsigned short port = free_loopback_port();
        write_config("HttpPort=" + std::to_string(port) + "\nsystem_run_count=1\n");
        start_app(OLVA_TRAY_SIM_APP);
        ClientOptions options;
        options.port = port;
        std::unique_ptr<WsClient> client;
        ASSERT_TRUE(eventually([&] { return (client = WsClient::connect(options)) != nullptr; },
                               kWait, kProcessLookPause))
            << output();
        // The box, found by the library's search before or after the
        // browser came, is listed.
        const auto line_listed = [&] {
            if (!client->send("{\"event\":\"getinfo\"}"))
                return false;
            for (;;) {
                const std::optional<std::string> message = client->read();
                if (!message)
                    return false;
                if (message->starts_with("{\"event\":\"getinfo\""))
                    return message->find("{\"handle\":257,") != std::string::npos;
            }
        };
        ASSERT_TRUE(eventually(line_listed, kWait, kProcessLookPause)) << output();
        const std::string file = temp_.file("call-" + std::to_string(signal_number) + ".wav");
        ASSERT_TRUE(client->send("{\"event\":\"RecordFile\",\"handle\":257,\"filename\":\"" + file +
                                 "\",\"codec\":" + std::to_string(OLVA_CODER_PCM) + "}"));
        // Half a second of line audio on disk, and the recording goes on.
        ASSERT_TRUE(eventually([&] { return readFile(file).size() >= kWaveHeaderSize + 8000; }))
            << output();

        ASSERT_EQ(kill(app_->pid(), signal_number), 0);
        EXPECT_EQ(app_->wait_exit(kWait), std::optional<int>(0)) << output();
        EXPECT_TRUE(client->wait_closed());
        EXPECT_NE(output().find(" signal " + std::to_string(signal_number) + ": shutting down"),
                  std::string::npos);

        const std::string bytes = readFile(file);
        ASSERT_GE(bytes.size(), kWaveHeaderSize + 8000);
        WaveHeader header{};
        std::memcpy(&header, bytes.data(), sizeof header);
        // The header is packed: its fields are read by value.
        const std::uint32_t data_length = header.data_length;
        EXPECT_EQ(data_length, bytes.size() - kWaveHeaderSize) << "the header states every byte recorded";
        SoundFile sound(file);
        ASSERT_NE(sound.file, nullptr) << sf_strerror(nullptr);
        EXPECT_EQ(sound.info.frames, static_cast<sf_count_t>((bytes.size() - kWaveHeaderSize) / 2));
    }
}

// A browser connected when a stop signal comes is told the service goes
// away (close 1001), and the program ends with 0 within 5 s.
TEST_F(TrayTest, StopSignalsTellABrowserTheServiceGoesAway)
{
    if (!have_program(HeadlessBrowser::kProgram))
        GTEST_SKIP() << "the test needs " << HeadlessBrowser::kProgram;
    writeFile(app_dir_ + "/webroot/blank.html", "<!DOCTYPE html><html><body></body></html>");
    for (const int signal_number : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal_number);
        const unsigned short port = free_loopback_port();
        write_config("HttpPort=" + std::to_string(port) + "\nsystem_run_count=1\n");
        start_app();
        const std::string service = "127.0.0.1:" + std::to_string(port);
        ASSERT_TRUE(eventually([&] { return tcp_connects("127.0.0.1", port); }, kWait, kProcessLookPause)) << output();
        HeadlessBrowser browser;
        std::string error;
        ASSERT_TRUE(browser.open("http://" + service + "/blank.html",
                                 temp_.file("chromium-" + std::to_string(signal_number)), &error))
            << error;
        ASSERT_EQ(browser.evaluate("(() => { window.greeting = ''; window.closes = '';"
                                   "const ws = new WebSocket('ws://" + service + "/');"
                                   "ws.onmessage = e => { window.greeting = e.data; };"
                                   "ws.onclose = e => { window.closes += e.code + ' ' + e.reason; };"
                                   "return 'opened'; })()"),
                  "opened");
        std::string last;
        ASSERT_TRUE(browser.wait_until_holds("window.greeting", "{\"event\":\"joined\"", &last)) << last;

        const auto signalled = std::chrono::steady_clock::now();
        ASSERT_EQ(kill(app_->pid(), signal_number), 0);
        EXPECT_TRUE(eventually([&] { return output().find("~MyApp--") != std::string::npos; }, kStopTime, kProcessLookPause))
            << output();
        EXPECT_LT(std::chrono::steady_clock::now() - signalled, kStopTime);
        EXPECT_EQ(app_->wait_exit(kExitAfterStop), std::optional<int>(0)) << output();
        EXPECT_TRUE(browser.wait_until_holds("window.closes", "1001 going away", &last)) << last;
        EXPECT_EQ(last, "1001 going away");
        EXPECT_EQ(output().find("did not answer the close"), std::string::npos) << output();
    }
}

// A stop signal while the first-run question is shown ends the program: the
// question goes, no page is opened, and the exit code is 0.
TEST_F(TrayTest, StopSignalDuringTheFirstRunQuestionEndsTheProgram)
{
    write_config("HttpPort=0\n");
    start_app();
    const auto question = wait_for_box(kCaption);
    ASSERT_TRUE(question) << output();
    ASSERT_EQ(kill(app_->pid(), SIGTERM), 0);
    EXPECT_TRUE(eventually([&] { return output().find("~MyApp--") != std::string::npos; }, kStopTime, kProcessLookPause))
        << output();
    EXPECT_EQ(app_->wait_exit(kExitAfterStop), std::optional<int>(0)) << output();
    EXPECT_NE(output().find(" signal " + std::to_string(SIGTERM) + ": shutting down"), std::string::npos);
    EXPECT_NE(output().find(" OlvaTaskExit--"), std::string::npos) << output();
    EXPECT_EQ(readFile(browser_log()), "");
}

TEST_F(TrayTest, FailedBindShowsTheBoxThenTheQuestionAndExitsWithOne)
{
    BusyPort busy;
    write_config("HttpPort=" + std::to_string(busy.port()) + "\n");
    start_app();
    answer(kFailedStartCaption, "Return");
    EXPECT_NE(output().find("Failed to create listener"), std::string::npos) << output();

    // The counter was never read, so the question follows; the icon has gone.
    const auto question = wait_for_box(kCaption);
    ASSERT_TRUE(question) << output();
    EXPECT_FALSE(x_.tray_icon_of(app_->pid()));
    x_.focus_and_type(*question, "alt+n");
    // The help page at the configured port, where a running copy may serve.
    EXPECT_TRUE(wait_for_browser("http://127.0.0.1:" + std::to_string(busy.port()) + "/doc/index.html"))
        << readFile(browser_log());
    EXPECT_EQ(app_->wait_exit(kWait), std::optional<int>(1)) << output();
    EXPECT_EQ(run_count(), -1) << "a failed start is not counted";
}

}  // namespace
}  // namespace olva_test
