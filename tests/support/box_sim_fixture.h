// The fixture of the box tests: simulated boxes behind the USB seam, pauses
// that cost the test's thread no time (and keep the boxes' polling threads
// from spinning), an application directory for "olva.ini", a /proc with
// the boxes' sound cards and a recording command runner. The PCMs are the
// test's choice (a scripted fake or real ALSA).
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "base/base_ini.h"
#include "sim/sim_backend.h"
#include "support/asound_tree.h"
#include "support/fake_clock.h"
#include "support/fake_paths.h"
#include "support/foreground_sleeper.h"
#include "support/recording_command_runner.h"
#include "support/temp_dir.h"
#include "support/test_box.h"

namespace olva_test {

// The library's handle of line 1 of the box in the first slot.
inline constexpr unsigned long kFirstLine = 0x101;
// The samples of one 20 ms frame of a line.
inline constexpr std::size_t kFrameSamples = 160;

class BoxSimTest : public ::testing::Test {
protected:
    BoxSimTest() { paths_.setApplicationDirectory(app_dir_.path()); }
    void TearDown() override { EXPECT_THAT(sim_.violations(), ::testing::IsEmpty()); }

    std::string iniPath() const { return app_dir_.file("olva.ini"); }
    int ini(const char* key) const { return readIntValue("device", key, iniPath().c_str()); }
    std::string iniText(const char* key) const
    {
        char value[INI_VALUE_SIZE] = {};
        if (readStringValue("device", key, value, iniPath().c_str()) != 0)
            return "(missing)";
        return value;
    }

    // Lists a sound card with the USB id at the box's USB location, beside
    // those listed before.
    void listCard(const olva_sim::SimBox& box, int card, const char* usbid)
    {
        const auto [bus, address] = TestBox::usbLocation(sim_.path(box));
        pcm_lines_.push_back(usbPcmLine(card, 0));
        cards_.push_back({card, usbid, usbBusText(bus, address)});
        asound_.set(pcm_lines_, cards_);
    }
    // A sound card that a search thread may find before the test could name
    // its box's USB location: one taken on its USB id alone.
    void listCardOfAnyLocation(int card, const char* usbid)
    {
        pcm_lines_.push_back(usbPcmLine(card, 0));
        cards_.push_back({card, usbid, ""});
        asound_.set(pcm_lines_, cards_);
    }

    FakeClock clock_;
    ForegroundSleeper sleeper_;
    olva_sim::SimBackend sim_;
    TempDir app_dir_;
    FakePaths paths_;
    AsoundTree asound_{paths_};
    RecordingCommandRunner commands_;
    std::vector<std::string> pcm_lines_;
    std::vector<AsoundCard> cards_;
};

}  // namespace olva_test
