// The soak run (scripts/soak, not part of the suite): the whole web service
// over the real device library, two simulated boxes (a Tz2401B and a
// Tz2501B) plugged in and pulled out 1000 times while two browsers stay
// connected and see every box come and go. The process's resident anonymous
// memory, open descriptors and threads are printed at the start, every 100
// cycles and at the end; after the first cycles have warmed the service up
// they must stay flat: threads exactly, descriptors within kFdMargin,
// memory within kRssMarginKb.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "olva_manager/olva_manager.h"
#include "sim/sim_register_box.h"
#include "sim/sim_tz2401.h"
#include "support/box_sim_fixture.h"
#include "support/eventually.h"
#include "support/fake_pcm.h"
#include "support/web_client.h"
#include "ukit/olva_mgr.h"

namespace olva_test {
namespace {

using olva_sim::SimBox;
using olva_sim::SimRegisterBox;
using olva_sim::SimTz2401Box;
using platform::PcmStream;

constexpr int kCycles = 1000;
constexpr int kReportEvery = 100;
// Cycles before the baseline: the first opens start the log file, read the
// sound cards' configuration and fill the allocator's pools.
constexpr int kWarmUpCycles = 10;
constexpr long kRssMarginKb = 512;
constexpr long kFdMargin = 2;

struct Usage {
    long rss_anon_kb = 0;
    long descriptors = 0;
    long threads = 0;
};

long count_entries(const char* dir)
{
    long count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir))
        ++count;
    return count;
}

Usage usage()
{
    Usage u;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("RssAnon:", 0) == 0)
            u.rss_anon_kb = std::stol(line.substr(8));
    // Less the descriptor of the listing itself.
    u.descriptors = count_entries("/proc/self/fd") - 1;
    u.threads = count_entries("/proc/self/task");
    return u;
}

void print(const char* when, int cycle, const Usage& u)
{
    std::printf("soak %-9s cycle %4d: RssAnon %6ld kB, descriptors %3ld, threads %3ld\n", when, cycle,
                u.rss_anon_kb, u.descriptors, u.threads);
    std::fflush(stdout);
}

std::string event_text(const char* event, int handle)
{
    return "{\"event\":\"" + std::string(event) + "\",\"handle\":" + std::to_string(handle) + "}";
}

class ServiceSoak : public BoxSimTest {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(app_dir_.file("webroot"));
        options_.exe_dir = app_dir_.path();
        options_.wakeup_count_path = app_dir_.file("wakeup_count");
        writeFile(options_.wakeup_count_path, "7\n");
        // Both browsers stay: a new connection does not close the others.
        writeFile(app_dir_.file("config.ini"), "[CONFIG]\nHttpPort=0\nkeep_only_conncet=0\n");
        // The boxes are found by one search pass per cycle instead of the
        // search thread's once a second.
        OlvaManager::use_manual_drive(true);
        ASSERT_EQ(uWebMgr.init_uWeb(options_), 0);
        // Each box's card stays listed and is opened again at each plug-in.
        for (const auto& [card, usbid] : {std::pair{1, kTz2401CardId}, std::pair{2, kTz2501BCardId}}) {
            const std::string number = std::to_string(card);
            pcm_.addDevice("hw:" + number + ",0", PcmStream::kCapture);
            pcm_.addDevice("plughw:" + number + ",0", PcmStream::kPlayback);
            listCardOfAnyLocation(card, usbid);
        }
    }
    void TearDown() override
    {
        uWebMgr.close_uWeb();
        OlvaManager::use_manual_drive(false);
        BoxSimTest::TearDown();
    }

    std::unique_ptr<WsClient> connect()
    {
        ClientOptions options;
        options.port = uWebMgr.http_port();
        std::string error;
        auto client = WsClient::connect(options, &error);
        EXPECT_TRUE(client) << error;
        if (client) {
            EXPECT_TRUE(client->read().has_value());  // the greeting
        }
        return client;
    }
    // True once the browser has seen every text, other events between them.
    static bool sees_all(WsClient& client, std::vector<std::string> texts)
    {
        for (int i = 0; i < 40 && !texts.empty(); ++i) {
            const std::optional<std::string> message = client.read();
            if (!message)
                return false;
            std::erase(texts, *message);
        }
        return texts.empty();
    }
    static bool slots_ended()
    {
        return eventually([] {
            for (int slot : {1, 2}) {
                const OlvaManager::CUsbBoxDevice& box = g_pOlvaMgr->slot(slot);
                if (box.device_index() != -1 || box.capture_running() || box.read_thread_active() ||
                    box.play_thread_running())
                    return false;
            }
            return true;
        });
    }

    WebOptions options_;
    FakePcmFactory pcm_;
};

TEST_F(ServiceSoak, PlugAndUnplugTwoBoxesAThousandTimesWithBrowsersConnected)
{
    std::vector<std::unique_ptr<WsClient>> browsers;
    for (int i = 0; i < 2; ++i) {
        browsers.push_back(connect());
        ASSERT_TRUE(browsers.back());
    }
    const std::vector<std::string> plug_ins = {event_text("plugin", 0x101), event_text("plugin", 0x201)};
    const std::vector<std::string> plug_outs = {event_text("plugout", 0x101),
                                                event_text("plugout", 0x201)};
    SimTz2401Box& tz2401b = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    SimRegisterBox& tz2501b = sim_.plug<SimRegisterBox>();
    const std::vector<SimBox*> boxes = {&tz2401b, &tz2501b};

    print("start", 0, usage());
    Usage baseline;
    for (int cycle = 1; cycle <= kCycles; ++cycle) {
        if (cycle > 1)
            for (SimBox* box : boxes)
                sim_.replug(*box);
        ASSERT_EQ(g_pOlvaMgr->search_pass(), 2) << "cycle " << cycle;
        for (auto& browser : browsers)
            ASSERT_TRUE(sees_all(*browser, plug_ins)) << "cycle " << cycle;
        for (SimBox* box : boxes)
            sim_.unplug(*box);
        for (auto& browser : browsers)
            ASSERT_TRUE(sees_all(*browser, plug_outs)) << "cycle " << cycle;
        ASSERT_TRUE(slots_ended()) << "cycle " << cycle;
        // The simulated bus, cards, command runner and sleeper keep what
        // they saw: not the service's memory.
        sim_.clearTrace();
        tz2501b.clearPins();
        pcm_.clearOpens();
        commands_.clear();
        sleeper_.clear();

        if (cycle == kWarmUpCycles) {
            baseline = usage();
            print("baseline", cycle, baseline);
        }
        if (cycle % kReportEvery == 0)
            print(cycle == kCycles ? "end" : "", cycle, usage());
    }
    const Usage end = usage();
    EXPECT_EQ(end.threads, baseline.threads);
    EXPECT_LE(end.descriptors, baseline.descriptors + kFdMargin);
    EXPECT_LE(end.rss_anon_kb, baseline.rss_anon_kb + kRssMarginKb);
}

}  // namespace
}  // namespace olva_test
