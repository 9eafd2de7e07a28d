// The tray's notifier carries balloons and message boxes asked for on
// library and web threads to the GUI thread. The toolkit runs here without
// a display: a console application object whose queued work the test runs.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include <wx/app.h>
#include <wx/init.h>

#include "cavrel_olva.h"
#include "support/child_process.h"
#include "support/web_client.h"
#include "ukit/olva_mgr.h"
#include "utaskbar/gui_tray_notifier.h"

namespace olva_test {
namespace {

struct Shown {
    std::string what;  // "balloon|title|text|timeout|flags" or "box|caption|text"
    std::thread::id thread;
};

class GuiTrayNotifierTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(toolkit_.IsOk()); }
    void TearDown() override { uWebMgr.set_tray(nullptr); }

    void record(std::string what)
    {
        std::lock_guard lock(mutex_);
        shown_.push_back({std::move(what), std::this_thread::get_id()});
    }

    std::vector<Shown> shown()
    {
        std::lock_guard lock(mutex_);
        return shown_;
    }

    // Runs the GUI thread's queued work until count requests have been shown.
    bool run_gui_until(std::size_t count)
    {
        return eventually(
            [&] {
                wxAppConsole::GetInstance()->ProcessPendingEvents();
                return shown().size() >= count;
            },
            kWait);
    }

    wxInitializer toolkit_;
    std::mutex mutex_;
    std::vector<Shown> shown_;  // guarded by mutex_
    GuiTrayNotifier notifier_{
        [this](const std::string& title, const std::string& text, unsigned timeout, int flags) {
            record("balloon|" + title + "|" + text + "|" + std::to_string(timeout) + "|" +
                   std::to_string(flags));
        },
        [this](const std::string& text, const std::string& caption) {
            record("box|" + caption + "|" + text);
        }};
    const std::thread::id gui_thread_ = std::this_thread::get_id();
};

TEST_F(GuiTrayNotifierTest, RequestsFromOtherThreadsRunOnTheGuiThreadWithCopiesOfTheirTexts)
{
    std::thread raiser([&] {
        // The texts end with this thread, before the GUI thread shows them.
        std::string title = "提示";
        std::string text = "检测到USB盒子连接";
        notifier_.ShowBalloon(title, text, 10, 1);
        std::string box = "不能打开网络端口8054";
        notifier_.ShowMessageBox(box, "USB电话盒子Kit");
    });
    raiser.join();
    EXPECT_TRUE(shown().empty()) << "shown on the asking thread";

    ASSERT_TRUE(run_gui_until(2));
    const auto all = shown();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].what, "balloon|提示|检测到USB盒子连接|10|1");
    EXPECT_EQ(all[1].what, "box|USB电话盒子Kit|不能打开网络端口8054");
    for (const Shown& s : all)
        EXPECT_EQ(s.thread, gui_thread_);
}

TEST_F(GuiTrayNotifierTest, OnTheGuiThreadTheBoxIsShownBeforeTheCallReturns)
{
    notifier_.ShowMessageBox("text", "caption");
    const auto all = shown();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].what, "box|caption|text");
    EXPECT_EQ(all[0].thread, gui_thread_);
}

TEST_F(GuiTrayNotifierTest, PlugInBalloonOfALibraryThreadReachesTheGuiThread)
{
    uWebMgr.set_tray(&notifier_);
    std::thread library([] { ProcCavrelCallBack(257, OLVA_EVENT_PLUG_IN, 0, 0, 0, 0); });
    library.join();
    ASSERT_TRUE(run_gui_until(1));
    const auto all = shown();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].what, "balloon|提示|检测到USB盒子连接|10|1");
    EXPECT_EQ(all[0].thread, gui_thread_);
}

}  // namespace
}  // namespace olva_test
