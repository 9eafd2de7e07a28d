// The fixture of the whole-service tests: the web service started in this
// process over the real device library and its threads, simulated boxes
// behind the USB seam, scripted sound cards, and WebSocket clients that a
// browser would be.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "olva_manager/olva_manager.h"
#include "sim/sim_register_box.h"
#include "sim/sim_tz2401.h"
#include "support/box_sim_fixture.h"
#include "support/browser_events.h"
#include "support/eventually.h"
#include "support/fake_pcm.h"
#include "support/recording_tray.h"
#include "support/thread_count.h"
#include "support/tz2401_reports.h"
#include "support/web_client.h"
#include "ukit/olva_mgr.h"

namespace olva_test {

inline constexpr const char* kHookOn = "{\"event\":\"hookup\",\"handle\":257,\"type\":0}";

class WholeServiceTest : public BoxSimTest {
protected:
    using SimRegisterBox = olva_sim::SimRegisterBox;
    using SimTz2401Box = olva_sim::SimTz2401Box;
    using PcmStream = platform::PcmStream;

    void SetUp() override
    {
        std::filesystem::create_directories(app_dir_.file("webroot"));
        options_.exe_dir = app_dir_.path();
        options_.wakeup_count_path = app_dir_.file("wakeup_count");
        writeFile(options_.wakeup_count_path, "7\n");
        writeFile(app_dir_.file("config.ini"), "[CONFIG]\nHttpPort=0\n");
        uWebMgr.set_tray(&tray_);
        // The thread sanitizer starts a thread of its own at the first thread
        // the process makes: let it start before counting.
        std::thread([] {}).join();
        threads_before_ = thread_count();
        OlvaManager::use_manual_drive(manual_drive_);
        ASSERT_EQ(uWebMgr.init_uWeb(options_), 0);
        ASSERT_NE(g_pOlvaMgr, nullptr);
        ASSERT_EQ(g_pOlvaMgr->threads_running(), !manual_drive_);
        port_ = uWebMgr.http_port();
    }
    void TearDown() override
    {
        uWebMgr.close_uWeb();
        OlvaManager::use_manual_drive(false);
        uWebMgr.set_tray(nullptr);
        BoxSimTest::TearDown();
    }

    std::string work_path() const { return app_dir_.path() + "/"; }
    std::string greeting() const
    {
        return "{\"event\":\"joined\",\"OS\":\"linux\",\"path\":\"" + work_path() + "\"}";
    }
    std::string getinfo_reply(const std::string& channels) const
    {
        return "{\"event\":\"getinfo\",\"workpath\":\"" + work_path() + "\",\"channels\":[" + channels +
               "]}";
    }

    // A WebSocket client that has been greeted.
    std::unique_ptr<WsClient> connect()
    {
        ClientOptions options;
        options.port = port_;
        std::string error;
        auto client = WsClient::connect(options, &error);
        EXPECT_TRUE(client) << error;
        if (client) {
            EXPECT_EQ(client->read(), greeting());
        }
        return client;
    }
    // The service's log files, oldest first.
    std::string log_text() const
    {
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(app_dir_.file("olva-log")))
            files.push_back(entry.path().string());
        std::sort(files.begin(), files.end());
        std::string text;
        for (const std::string& file : files)
            text += readFile(file);
        return text;
    }
    // Sends a frame and returns the next message.
    static std::string ask(WsClient& client, const std::string& frame)
    {
        EXPECT_TRUE(client.send(frame));
        return client.read().value_or("(nothing)");
    }

    // A Tz2401B and its sound card come onto the bus, where the library's
    // search thread finds them.
    SimTz2401Box& plug_tz2401b(int card = 1, std::uint8_t version = 0x42)
    {
        return plug_tz2401b(card, SimTz2401Box::tz2401b(version));
    }
    SimTz2401Box& plug_tz2401b(int card, const SimTz2401Box::Options& options)
    {
        FakePcmDevice& capture = add_card(card);
        SimTz2401Box& box = sim_.plug<SimTz2401Box>(options);
        cards_of_[&box] = {card, &capture};
        return box;
    }
    // A Tz2501B and its sound card.
    SimRegisterBox& plug_tz2501b(int card)
    {
        add_card(card, kTz2501BCardId);
        return sim_.plug<SimRegisterBox>();
    }
    // The next message that starts with text; the events before it are
    // kept in skipped.
    static std::string read_until(WsClient& client, const std::string& text,
                                  std::vector<std::string>* skipped = nullptr)
    {
        for (int i = 0; i < 20; ++i) {
            const std::string message = client.read().value_or("(nothing)");
            if (message.rfind(text, 0) == 0 || message == "(nothing)")
                return message;
            if (skipped)
                skipped->push_back(message);
        }
        return "(not found)";
    }
    // Back on the bus under a new address, with a new sound card.
    void replug(const SimTz2401Box& box, int card)
    {
        cards_of_[&box] = {card, &add_card(card)};
        sim_.replug(box);
    }
    // The box leaves the bus once its line audio runs; its card goes with it.
    void unplug(const SimTz2401Box& box)
    {
        const Card card = cards_of_.at(&box);
        ASSERT_TRUE(eventually([&] { return card.capture->counters().reads > 0; }));
        sim_.unplug(box);
        card.capture->unplug();
        std::erase(pcm_lines_, usbPcmLine(card.number, 0));
        std::erase_if(cards_, [&](const AsoundCard& listed) { return listed.number == card.number; });
        asound_.set(pcm_lines_, cards_);
    }
    FakePcmDevice& capture_of(const SimTz2401Box& box) { return *cards_of_.at(&box).capture; }
    // A Tz2701A with a 2G module comes onto the bus.
    SimTz2401Box& plug_tz2701a(int card = 1)
    {
        FakePcmDevice& capture = add_card(card);
        SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2701a2g());
        cards_of_[&box] = {card, &capture};
        return box;
    }
    // How many times the box's module has received command (without its CR).
    static std::size_t module_got(const SimTz2401Box& box, const std::string& command)
    {
        std::size_t n = 0;
        for (const auto& received : box.gsmReceived())
            n += received.command == command ? 1 : 0;
        return n;
    }
    // True once a message equal to text has come, within limit messages.
    static bool sees(WsClient& client, const std::string& text, int limit = 40)
    {
        for (int i = 0; i < limit; ++i) {
            const std::optional<std::string> message = client.read();
            if (!message)
                return false;
            if (*message == text)
                return true;
        }
        return false;
    }
    // A Tz2401B plugged in as the browser sees it: its line announced and
    // its line audio running.
    SimTz2401Box& plug_in_seen_by(WsClient& client, std::uint8_t version = 0x42)
    {
        SimTz2401Box& box = plug_tz2401b(1, version);
        EXPECT_EQ(client.read(), kPlugIn);
        EXPECT_EQ(client.read(), kHookOn);
        EXPECT_TRUE(eventually([&] { return capture_of(box).counters().reads > 0; }));
        return box;
    }

    // Set by a derived fixture's constructor: the library runs no threads of
    // its own, the test drives its search and timer.
    bool manual_drive_ = false;
    WebOptions options_;
    RecordingTray tray_;
    FakePcmFactory pcm_;
    unsigned short port_ = 0;
    std::size_t threads_before_ = 0;

private:
    struct Card {
        int number;
        FakePcmDevice* capture;
    };

    FakePcmDevice& add_card(int card, const char* usbid = kTz2401CardId)
    {
        const std::string number = std::to_string(card);
        FakePcmDevice& capture = pcm_.addDevice("hw:" + number + ",0", PcmStream::kCapture);
        pcm_.addDevice("plughw:" + number + ",0", PcmStream::kPlayback);
        listCardOfAnyLocation(card, usbid);
        return capture;
    }

    std::map<const SimTz2401Box*, Card> cards_of_;
};

}  // namespace olva_test
