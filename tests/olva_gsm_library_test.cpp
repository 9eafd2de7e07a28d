// The library's module commands on a Tz2701A with a 4G module, found and
// driven by the device manager by hand: the volumes take the 4G module's
// limits and forms, its tone stops with the one value, and the box is named
// as a Tz2701A.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cavrel_olva.h"
#include "sim/sim_tz2401.h"
#include "support/eventually.h"
#include "support/fake_pcm.h"
#include "support/manual_drive_fixture.h"
#include "usb_hid/report_worker.h"

namespace {

using olva_sim::SimTz2401Box;
using platform::PcmStream;
using ::testing::ElementsAreArray;

class GsmLibraryTest : public olva_test::ManualDriveTest {
protected:
    void SetUp() override
    {
        ManualDriveTest::SetUp();
        box_ = &sim_.plug<SimTz2401Box>(SimTz2401Box::tz2701a4g());
        listCard(*box_, 1, olva_test::kTz2401CardId);
        pcm_.addDevice("hw:1,0", PcmStream::kCapture);
        pcm_.addDevice("plughw:1,0", PcmStream::kPlayback);
        ASSERT_EQ(manager().search_pass(), 1);
        // The module is pulsed awake and takes its start-up script, whose
        // last command reads the service centre.
        for (int i = 0; i < 3000 && !(moduleGot("AT+CSCA?") && idle()); ++i)
            tick();
        ASSERT_TRUE(moduleGot("AT+CSCA?") && idle());
        taken_ = box_->gsmReceived().size();
    }

    bool moduleGot(const std::string& command) const
    {
        for (const auto& received : box_->gsmReceived())
            if (received.command == command)
                return true;
        return false;
    }
    static bool idle() { return slot1().gsm_state().ready != 0 && slot1().queued_commands() == 0; }
    // One 20 ms tick of the timer thread, the box's reports handled before
    // and after it.
    void tick()
    {
        clock_.advanceMs(20);
        box_->gsmFlush();
        settle();
        manager().timer_tick();
        settle();
    }
    void settle()
    {
        ASSERT_TRUE(olva_test::eventually([&] { return sim_.settled(*box_) && ReportWorker::in_hand() == 0; }));
    }
    // The commands the module has taken since the last call, once the
    // queue is empty.
    std::vector<std::string> taken()
    {
        for (int i = 0; i < 50; ++i)
            tick();
        std::vector<std::string> commands;
        const auto received = box_->gsmReceived();
        for (std::size_t i = taken_; i < received.size(); ++i)
            commands.push_back(received[i].command);
        taken_ = received.size();
        return commands;
    }

    olva_test::FakePcmFactory pcm_;
    SimTz2401Box* box_ = nullptr;
    std::size_t taken_ = 0;
};

TEST_F(GsmLibraryTest, A4gModulesVolumesTakeItsLimitsAndItsMicrophoneForm)
{
    float version = 0;
    ASSERT_EQ(olva_get_device_versionnum(0x101, &version), 0);
    ASSERT_GE(version, 20.0f);
    struct Case {
        int type;  // 0 microphone, else speaker
        unsigned level;
        int result;
        std::vector<std::string> sent;
    };
    const Case cases[] = {
        {1, 0, 0, {"AT+CLVL=0"}},
        {1, 5, 0, {"AT+CLVL=5"}},
        {1, 6, OLVA_ERR_INVALID_PARAM, {}},
        {0, 0, 0, {"AT+QMIC=0,0"}},
        {0, 10000, 0, {"AT+QMIC=10000,10000"}},
        {0, 10001, 0, {"AT+QMIC=10001,6001"}},
        {0, 12000, 0, {"AT+QMIC=12000,8000"}},
        {0, 65535, 0, {"AT+QMIC=65535,61535"}},
        {0, 65536, OLVA_ERR_INVALID_PARAM, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.type ? "speaker " : "microphone ") + std::to_string(c.level));
        EXPECT_EQ(olva_set_gsm_vol(0x101, c.type, c.level), c.result);
        EXPECT_THAT(taken(), ElementsAreArray(c.sent));
    }
}

TEST_F(GsmLibraryTest, A4gModulesToneStopsWithTheOneValue)
{
    EXPECT_EQ(olva_gsm_generate_tone(0x101, 0, 1000, 200, 300, 500), 0);
    EXPECT_THAT(taken(), ElementsAreArray({"AT+QLTONE=0"}));
    EXPECT_EQ(olva_gsm_generate_tone(0x101, 1, 1000, 200, 300, 500), 0);
    EXPECT_THAT(taken(), ElementsAreArray({"AT+QLTONE=1,1000,200,300,500"}));
}

TEST_F(GsmLibraryTest, TheBoxIsNamedATz2701a)
{
    char name[16];
    std::fill(std::begin(name), std::end(name), '#');
    EXPECT_EQ(olva_get_product_name(0x101, name), 7);
    EXPECT_EQ(std::string(name, 8), "TZ2701A#");
}

}  // namespace
