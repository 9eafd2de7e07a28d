// Pin and register reports, the Tz2501B's latches and its shared GET_REPORT
// channel.
#include <atomic>

#include "sim/sim_register_box.h"
#include "sim/sim_report17_box.h"
#include "sim/sim_tz2501a.h"
#include "support/hid_sim_fixture.h"
#include "support/hid_test_box.h"

namespace {

using olva_sim::SimRegisterBox;
using olva_sim::SimReport17Box;
using olva_sim::SimTz2501ABox;
using olva_test::Bytes;
using olva_test::HidDeviceAccess;
using olva_test::HidTestBox;
using Pins = SimRegisterBox::Pins;
using ::testing::ElementsAre;
using ::testing::Each;
using ::testing::IsEmpty;

class RegisterTest : public olva_test::HidSimTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(HidDeviceAccess::openAs(hid_, sim_.path(box_), OLVA_PRODUCT_TZ2501B, 0x80));
    }

    SimRegisterBox& box_ = sim_.plug<SimRegisterBox>();
    HidTestBox hid_;
};

TEST_F(RegisterTest, CommandReportsAreSeventeenBytes)
{
    const std::uint8_t eeprom_mode = 0x43;
    EXPECT_TRUE(hid_.write_cmd(1, &eeprom_mode, 1));
    Bytes expected = {0x00, 0x01, 0x01, 0x43};
    expected.resize(17, 0);
    EXPECT_THAT(sim_.reports(box_), ElementsAre(expected));
    EXPECT_EQ(sim_.trace(box_)[0].wire_length, 16u);

    const std::uint8_t block[15] = {};
    EXPECT_FALSE(hid_.write_cmd(1, block, 0));
    EXPECT_FALSE(hid_.write_cmd(1, block, 15));
    EXPECT_FALSE(hid_.write_cmd(1, nullptr, 1));
    EXPECT_EQ(sim_.reports(box_).size(), 1u);
}

TEST_F(RegisterTest, RegisterSettingSelectsThenWrites)
{
    EXPECT_TRUE(hid_.Tz2402D_Reg_Setting(0x110, 0x50));
    EXPECT_THAT(sim_.reports(box_),
                ElementsAre(Bytes{0, 0x60, 0x10, 0x01, 0x10}, Bytes{0, 0x60, 0x50, 0x00, 0x20}));
    EXPECT_EQ(box_.reg(0x110), 0x50);
}

TEST_F(RegisterTest, RegisterSettingFailsWhenEitherReportFails)
{
    for (int failing = 0; failing < 2; ++failing) {
        SCOPED_TRACE(failing);
        // Three attempts of one report.
        sim_.failTransfers(box_, olva_sim::kOutputTransfers, failing * 1, 3, usb::kErrorIo);
        EXPECT_FALSE(hid_.Tz2402D_Reg_Setting(0x09, 0x11));
    }
}

TEST_F(RegisterTest, RegisterReadTakesByteOneOfTheAnswer)
{
    box_.setReg(0x282, 0x5A);
    std::uint8_t value = 0;
    EXPECT_TRUE(hid_.Tz2402D_Reg_Read(0x282, value));
    EXPECT_EQ(value, 0x5A);
    EXPECT_THAT(sim_.reports(box_), ElementsAre(Bytes{0, 0x60, 0x82, 0x02, 0x10}));
}

TEST_F(RegisterTest, AFailedRegisterReadLeavesTheValueAlone)
{
    struct Case {
        const char* name;
        unsigned kinds;
        int count;
        int error;
        std::vector<std::uint8_t> cleared_halts;
    };
    const Case cases[] = {
        {"time-out", olva_sim::kGetReports, 1, usb::kErrorTimeout, {}},
        {"stall", olva_sim::kGetReports, 1, usb::kErrorPipe, {0}},
        {"address report lost", olva_sim::kOutputTransfers, 3, usb::kErrorIo, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimRegisterBox& box = sim_.plug<SimRegisterBox>();
        box.setReg(0x282, 0x5A);
        HidTestBox hid;
        ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(box), OLVA_PRODUCT_TZ2501B));
        sim_.failTransfers(box, c.kinds, 0, c.count, c.error);
        std::uint8_t value = 0xEE;
        EXPECT_FALSE(hid.Tz2402D_Reg_Read(0x282, value));
        EXPECT_EQ(value, 0xEE);
        EXPECT_EQ(sim_.clearedHalts(box), c.cleared_halts);
        // No USB error event from a register read.
        EXPECT_THAT(hid.events(), Each(testing::Pair(41, usb::kErrorIo)));
    }
}

TEST_F(RegisterTest, LatchOneStrobesBitFourTenMillisecondsApart)
{
    HidDeviceAccess::setPins(hid_, 0x10, 0x1F, 0x34);
    EXPECT_TRUE(hid_.Tz2501B_function_setting(5, 1));
    EXPECT_THAT(box_.pins(), ElementsAre(Pins{0x1D, 0x1F, 0x34}, Pins{0x1D, 0x1F, 0x34},
                                         Pins{0x0D, 0x1F, 0x34}, Pins{0x1D, 0x1F, 0x34}));
    EXPECT_EQ(box_.latch1(5), 1);
    const auto trace = sim_.trace(box_);
    ASSERT_EQ(trace.size(), 4u);
    for (std::size_t i = 1; i < trace.size(); ++i)
        EXPECT_EQ(trace[i].time_ms - trace[i - 1].time_ms, 10);
    EXPECT_THAT(sleeper_.mine(), ElementsAre(10, 10, 10, 10));
}

TEST_F(RegisterTest, LatchTwoStrobesG3BitZero)
{
    HidDeviceAccess::setPins(hid_, 0x10, 0x1F, 0x35);
    EXPECT_TRUE(hid_.Tz2501B_function2_setting(2, 0));
    EXPECT_THAT(box_.pins(), ElementsAre(Pins{0x12, 0x1F, 0x35}, Pins{0x12, 0x1F, 0x35},
                                         Pins{0x12, 0x1F, 0x34}, Pins{0x13, 0x1F, 0x35}));
    EXPECT_EQ(box_.latch2(2), 0);
    EXPECT_THAT(sleeper_.mine(), ElementsAre(10, 10, 10));
}

TEST_F(RegisterTest, ALatchStopsAtTheFirstFailedStep)
{
    for (int step = 0; step < 4; ++step) {
        SCOPED_TRACE(step);
        SimRegisterBox& box = sim_.plug<SimRegisterBox>();
        HidTestBox hid;
        ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(box), OLVA_PRODUCT_TZ2501B));
        HidDeviceAccess::setPins(hid, 0x10, 0x1F, 0x34);
        sim_.failTransfers(box, olva_sim::kOutputTransfers, step, 3, usb::kErrorIo);
        EXPECT_FALSE(hid.Tz2501B_function_setting(3, 1));
        EXPECT_EQ(box.pins().size(), static_cast<std::size_t>(step));
    }
}

TEST_F(RegisterTest, PinWritersSendWhatTheyAreGiven)
{
    EXPECT_TRUE(hid_.Tz2501B_Set_GPIO(0x01, 0x02, 0x03));
    EXPECT_TRUE(hid_.Tz2402D_Set_GPIO(0x04, 0x05));
    EXPECT_TRUE(hid_.Tz2402D_GPIO_init(0));
    EXPECT_TRUE(hid_.Tz2402D_GPIO_init(1));
    EXPECT_THAT(sim_.reports(box_),
                ElementsAre(Bytes{0, 0x60, 0x01, 0x03, 0x02}, Bytes{0, 0x60, 0x04, 0x05, 0x3F},
                            Bytes{0, 0x60, 0x3C, 0x1C, 0x3C}, Bytes{0, 0x60, 0x3C, 0x1C, 0x3F}));
    EXPECT_EQ(HidDeviceAccess::g1(hid_), 0x3C);
    EXPECT_EQ(HidDeviceAccess::g2(hid_), 0x1C);
}

TEST_F(RegisterTest, GuardedPinWritersSendNothingOnAnUnpluggedBox)
{
    HidDeviceAccess::setUnplugged(hid_, true);
    EXPECT_FALSE(hid_.Tz2501B_Set_GPIO(1, 2, 3));
    EXPECT_FALSE(hid_.Tz2402D_Set_GPIO(1, 2));
    EXPECT_FALSE(hid_.Set_GPIO(1, 2));
    EXPECT_THAT(sim_.reports(box_), IsEmpty());
    // The box comes back: the writers are not blocked.
    hid_.hidClose();
    sim_.unplug(box_);
    sim_.replug(box_);
    ASSERT_TRUE(HidDeviceAccess::openAs(hid_, sim_.path(box_), OLVA_PRODUCT_TZ2501B));
    HidDeviceAccess::setUnplugged(hid_, false);
    EXPECT_TRUE(hid_.Tz2501B_Set_GPIO(1, 2, 3));
    EXPECT_TRUE(hid_.Tz2402D_Set_GPIO(1, 2));
}

TEST_F(RegisterTest, StatusPollAndRegisterReadsNeverTakeEachOthersAnswer)
{
    // Status bits 3; a register answer taken for a status would give 4.
    box_.setStatus(0xA0);
    HidDeviceAccess::startReadThread(hid_);
    ASSERT_TRUE(olva_test::eventually([&] { return hid_.reportCount() > 0; }));
    for (int i = 0; i < 300; ++i) {
        const auto expected = static_cast<std::uint8_t>(0x40 + (i % 0x20));
        box_.setReg(0x0A, expected);
        std::uint8_t value = 0;
        ASSERT_TRUE(hid_.Tz2402D_Reg_Read(0x0A, value));
        ASSERT_EQ(value, expected);
    }
    hid_.hidClose();
    for (const auto& report : hid_.reports())
        ASSERT_EQ(report.bytes, Bytes{3});
}

TEST_F(RegisterTest, SeventeenByteGpioReport)
{
    SimReport17Box& box = sim_.plug<SimReport17Box>();
    HidTestBox hid;
    ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(box), OLVA_PRODUCT_TZ2402B, 0x42));
    EXPECT_TRUE(hid.Set_GPIO(0x01, 0x02, 0x03, 0x04));
    Bytes expected = {0, 0x05, 0x04, 0x01, 0x02, 0x03, 0x04};
    expected.resize(17, 0);
    EXPECT_THAT(sim_.reports(box), ElementsAre(expected));
}

TEST_F(RegisterTest, Tz2501aPinReportCarriesTheBuzzerByte)
{
    SimTz2501ABox& box = sim_.plug<SimTz2501ABox>();
    HidTestBox hid;
    ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(box), OLVA_PRODUCT_TZ2501A));
    EXPECT_TRUE(hid.Set_GPIO(0x03, 0x03));
    EXPECT_THAT(sim_.reports(box), ElementsAre(Bytes{0, 0x00, 0x03, 0x03, 0x00}));
    EXPECT_TRUE(hid.Tz2501_close_mute());
    hid.hid_closeEx();
    EXPECT_FALSE(hid.Set_GPIO(0x03, 0x03));
    EXPECT_EQ(sim_.reports(box).size(), 1u);
}

}  // namespace
