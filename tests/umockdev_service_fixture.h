// The whole service over the real libusb backend and the box of the
// umockdev test bed, whose sound card is missing: the web service with a
// WebSocket client that has read its greeting, and the device manager
// driven by hand. Runs under umockdev-wrapper.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "olva_manager/olva_manager.h"
#include "support/asound_tree.h"
#include "support/fake_clock.h"
#include "support/fake_paths.h"
#include "support/fake_pcm.h"
#include "support/foreground_sleeper.h"
#include "support/recording_command_runner.h"
#include "support/temp_dir.h"
#include "support/web_client.h"
#include "ukit/olva_mgr.h"
#include "umockdev_bed.h"

namespace olva_test {

class UmockdevServiceTest : public UmockdevBedTest {
protected:
    void SetUp() override
    {
        UmockdevBedTest::SetUp();
        if (IsSkipped())
            return;
        paths_.setApplicationDirectory(app_dir_.path());
        std::filesystem::create_directories(app_dir_.file("webroot"));
        WebOptions options;
        options.exe_dir = app_dir_.path();
        options.wakeup_count_path = app_dir_.file("wakeup_count");
        writeFile(options.wakeup_count_path, "7\n");
        writeFile(app_dir_.file("config.ini"), "[CONFIG]\nHttpPort=0\n");
        OlvaManager::use_manual_drive(true);
        ASSERT_EQ(uWebMgr.init_uWeb(options), 0);
        ClientOptions client_options;
        client_options.port = uWebMgr.http_port();
        std::string error;
        client_ = WsClient::connect(client_options, &error);
        ASSERT_TRUE(client_) << error;
        ASSERT_TRUE(client_->read());  // the greeting
    }
    void TearDown() override
    {
        client_.reset();
        if (bedStands())
            uWebMgr.close_uWeb();
        OlvaManager::use_manual_drive(false);
    }

    static const OlvaManager::CUsbBoxDevice& slot1() { return g_pOlvaMgr->slot(1); }

    // The next message that starts with text among the next limit, or what
    // ended the search.
    std::string read_until(const std::string& text, int limit = 40)
    {
        for (int i = 0; i < limit; ++i) {
            const std::optional<std::string> message = client_->read();
            if (!message)
                return "(nothing)";
            if (message->rfind(text, 0) == 0)
                return *message;
        }
        return "(not found)";
    }

    FakeClock clock_;
    ForegroundSleeper sleeper_;
    TempDir app_dir_;
    FakePaths paths_;
    AsoundTree asound_{paths_};  // lists no sound card
    FakePcmFactory pcm_;         // opens no PCM
    RecordingCommandRunner commands_;
    std::unique_ptr<WsClient> client_;
};

}  // namespace olva_test
