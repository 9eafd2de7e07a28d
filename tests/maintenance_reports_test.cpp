// Reports the call path leaves alone: the cm6308 codec's microphone gain
// and the parameter and LED commands of the 17-byte boxes, the Tz2701A's
// buzzer query and bridge echo test, the single-byte and word-wise EEPROM
// accesses of the Tz2501A.
#include "sim/sim_report17_box.h"
#include "sim/sim_tz2401.h"
#include "sim/sim_tz2501a.h"
#include "support/hid_sim_fixture.h"
#include "support/hid_test_box.h"

namespace {

using olva_sim::SimReport17Box;
using olva_sim::SimTz2401Box;
using olva_sim::SimTz2501ABox;
using olva_test::Bytes;
using olva_test::HidDeviceAccess;
using olva_test::HidTestBox;
using ::testing::ElementsAre;

Bytes command17(std::uint8_t cmd, Bytes data)
{
    Bytes report = {0, cmd, static_cast<std::uint8_t>(data.size())};
    report.insert(report.end(), data.begin(), data.end());
    report.resize(17, 0);
    return report;
}

class Report17Test : public olva_test::HidSimTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(HidDeviceAccess::openAs(hid_, sim_.path(box_), OLVA_PRODUCT_TZ2402B, 0x42));
    }

    SimReport17Box& box_ = sim_.plug<SimReport17Box>();
    HidTestBox hid_;
};

TEST_F(Report17Test, MicrophoneVolumeIsSetBetweenTwoLooksAtTheCodec)
{
    const int before = sim_.transferCount(box_);
    hid_.cm6308_set_micvolume(3);
    EXPECT_THAT(sim_.reports(box_),
                ElementsAre(command17(0x01, {0x28}), command17(0x28, {0x0E, 0x0E}),
                            command17(0x01, {0x28}), command17(0x01, {0x00})));
    // Two codec states read: before and after.
    EXPECT_EQ(sim_.transferCount(box_) - before, 4 + 2);
    EXPECT_THAT(sleeper_.mine(), ElementsAre(100, 20, 100, 100));
    EXPECT_EQ(box_.micGain(), 0x0E);
    EXPECT_EQ(box_.mode(), 0x00);
}

TEST_F(Report17Test, MicrophoneVolumesMapToGainCodes)
{
    const std::pair<int, int> cases[] = {{-5, 0x0B}, {0, 0x04}, {1, 0x08}, {2, 0x0B},
                                         {3, 0x0E},  {7, 0x12}, {20, 0x1F}};
    for (const auto& [volume, code] : cases) {
        hid_.cm6308_set_micvolume(volume);
        EXPECT_EQ(box_.micGain(), code) << volume;
    }
}

TEST_F(Report17Test, AFailedCodecLookStillSetsTheGainAndReturnsToStatusMode)
{
    sim_.failTransfers(box_, olva_sim::kGetReports, 0, 2, usb::kErrorTimeout);
    hid_.cm6308_set_micvolume(1);
    EXPECT_EQ(box_.micGain(), 0x08);
    EXPECT_EQ(box_.mode(), 0x00);
}

TEST_F(Report17Test, ParameterReadAndLedState)
{
    Bytes answer(17, 0xEE);
    ASSERT_TRUE(hid_.read_param(0x28, answer.data(), 17));
    EXPECT_EQ(answer[1], 0x28);
    EXPECT_EQ(box_.mode(), 0x28);
    // Without its mode command the read is not tried.
    sim_.failTransfers(box_, olva_sim::kOutputTransfers, 0, 3, usb::kErrorIo);
    const int before = sim_.transferCount(box_);
    EXPECT_FALSE(hid_.read_param(0x00, answer.data(), 17));
    EXPECT_EQ(sim_.transferCount(box_) - before, 3);
    EXPECT_FALSE(hid_.read_param(0x00, nullptr, 17));

    sim_.clearTrace();
    hid_.init_ledState();
    EXPECT_THAT(sim_.reports(box_), ElementsAre(command17(0x02, {0x56}), command17(0x0F, Bytes(8, 0)),
                                                command17(0x01, {0x00})));
    EXPECT_THAT(box_.otherCommands(), ElementsAre(0x02, 0x0F));

    sim_.clearTrace();
    EXPECT_TRUE(hid_.Tz2402D_GPIO_read());
    EXPECT_TRUE(sim_.reports(box_).empty());
}

class Tz2701MaintenanceTest : public olva_test::HidSimTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(HidDeviceAccess::openAs(hid_, sim_.path(box_), OLVA_PRODUCT_TZ2701A));
        HidDeviceAccess::startReadThread(hid_);
        HidDeviceAccess::setReplyTimeout(hid_, 20);
    }
    void TearDown() override
    {
        hid_.hidClose();
        HidSimTest::TearDown();
    }

    SimTz2401Box& box_ = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2701a());
    HidTestBox hid_;
};

TEST_F(Tz2701MaintenanceTest, EchoTestSendsItsMessageAndAsksForTheEcho)
{
    EXPECT_EQ(hid_.Tz2701_echo_test(), 1);
    EXPECT_THAT(sim_.reports(box_),
                ElementsAre(Bytes{3, 0xA1, 0x90, 'A', 'B', 'C', 0, 7}, Bytes{3, 0xA2, 'D', 'E', 'F', 'G', 0, 7},
                            Bytes{3, 0xA0, 0xA2, 0xA0, 0x07, 0x00, 0x00, 0}));
    EXPECT_EQ(box_.badMessages(), 0);

    // An echo that never comes is reported; the result is still the message's.
    box_.dropReplies(0xA0, 1);
    EXPECT_EQ(hid_.Tz2701_echo_test(), 1);
    // A second half the box takes neither time.
    sim_.failTransfers(box_, olva_sim::kOutputTransfers, 1, 2, usb::kErrorIo);
    EXPECT_EQ(hid_.Tz2701_echo_test(), 0);
}

TEST_F(Tz2701MaintenanceTest, BuzzerQueryResultIsTheQuerysReport)
{
    EXPECT_EQ(hid_.Tz2701_get_buzzer(), 1);
    EXPECT_EQ(box_.commandCount(0xF4), 1);
    box_.dropReplies(0xF4, 1);
    EXPECT_EQ(hid_.Tz2701_get_buzzer(), 1);
    sim_.failTransfers(box_, olva_sim::kOutputTransfers, 0, 3, usb::kErrorIo);
    EXPECT_EQ(hid_.Tz2701_get_buzzer(), 0);
}

class Tz2501aWordTest : public olva_test::HidSimTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(HidDeviceAccess::openAs(hid_, sim_.path(box_), OLVA_PRODUCT_TZ2501A));
    }

    SimTz2501ABox& box_ = sim_.plug<SimTz2501ABox>();
    HidTestBox hid_;
};

TEST_F(Tz2501aWordTest, SingleBytesGoOverTheBitBangedBus)
{
    ASSERT_TRUE(hid_.I2CSend_byte(0x42, 0x5A));
    EXPECT_EQ(box_.eeprom()[0x42], 0x5A);
    std::uint8_t read = 0;
    ASSERT_TRUE(hid_.I2CRecv_byte(0x42, read));
    EXPECT_EQ(read, 0x5A);
}

TEST_F(Tz2501aWordTest, WordsRoundTripAndOddEdgesKeepTheirNeighbours)
{
    box_.setEeprom(0x10, {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5});
    const Bytes data = {1, 2, 3};
    ASSERT_TRUE(hid_.writeEepromex(0x11, data.data(), data.size()));
    const auto memory = box_.eeprom();
    EXPECT_EQ(Bytes(memory.begin() + 0x10, memory.begin() + 0x16),
              (Bytes{0xA0, 1, 2, 3, 0xA4, 0xA5}));
    Bytes read(3, 0);
    ASSERT_TRUE(hid_.readEepromex(0x11, read.data(), read.size()));
    EXPECT_EQ(read, data);
    // The pins are restored after the word reports.
    EXPECT_EQ(sim_.reports(box_).back(),
              (Bytes{0, 0, HidDeviceAccess::g1(hid_), HidDeviceAccess::g2(hid_), 0}));
    // A neighbour that cannot be read is not overwritten: nothing is written.
    sim_.clearTrace();
    sim_.failTransfers(box_, olva_sim::kGetReports, 0, 1, usb::kErrorIo);
    const Bytes other = {7, 8};
    EXPECT_FALSE(hid_.writeEepromex(0x13, other.data(), other.size()));
    const auto unchanged = box_.eeprom();
    EXPECT_EQ(Bytes(unchanged.begin() + 0x10, unchanged.begin() + 0x16),
              (Bytes{0xA0, 1, 2, 3, 0xA4, 0xA5}));
    for (const Bytes& report : sim_.reports(box_))
        EXPECT_LT(report[4], 0xC0) << "a word was written";
    // Words past 63 would read as writes: refused before anything is sent.
    sim_.clearTrace();
    EXPECT_FALSE(hid_.readEepromex(0x7F, read.data(), 2));
    EXPECT_FALSE(hid_.writeEepromex(0x80, data.data(), 1));
    EXPECT_TRUE(sim_.reports(box_).empty());
}

}  // namespace
