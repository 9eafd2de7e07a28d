// The Tz2701A bridge: a message cut into the bridge's text chunks with
// their pauses, the one-cycle, two-cycle and write-read reports with their
// retries, the direct path, and the queues with their limits. The
// simulated module behind the bridge reassembles what it gets.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gsm/device_commands.h"
#include "sim/sim_tz2401.h"
#include "support/hid_sim_fixture.h"
#include "support/hid_test_box.h"

namespace {

using olva_sim::SimTz2401Box;
using olva_test::Bytes;
using olva_test::HidDeviceAccess;
using olva_test::HidTestBox;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

class BridgeTest : public olva_test::HidSimTest {
protected:
    void SetUp() override
    {
        box_ = &sim_.plug<SimTz2401Box>(SimTz2401Box::tz2701a2g());
        ASSERT_TRUE(HidDeviceAccess::openAs(hid_, sim_.path(*box_), OLVA_PRODUCT_TZ2701A));
    }
    int send(const std::string& text)
    {
        return hid_.Tz2701_Send_HidCmd(reinterpret_cast<const std::uint8_t*>(text.data()),
                                       static_cast<int>(text.size()));
    }
    std::vector<std::string> received() const
    {
        std::vector<std::string> out;
        for (const auto& r : box_->gsmReceived())
            out.push_back(r.command);
        return out;
    }

    SimTz2401Box* box_ = nullptr;
    HidTestBox hid_;
};

TEST_F(BridgeTest, AMessageIsCutIntoSixByteChunksAndItsRest)
{
    struct Case {
        std::string text;
        std::vector<Bytes> reports;
        std::vector<int> pauses;
    };
    const Case cases[] = {
        {"AT\r", {{3, 0xA5, 0x00, 0x83, 'A', 'T', '\r', 0x00}}, {10}},
        {"ATE 0\r",
         {{3, 0xA1, 0x86, 'A', 'T', 'E', 0, 7}, {3, 0xA2, ' ', '0', '\r', 0, 0, 7}},
         {5}},
        // 17 bytes: two whole chunks and a rest of five.
        {"AT+QSIMDET=1,0,1\r",
         {{3, 0xA1, 0x86, 'A', 'T', '+', 0, 7},
          {3, 0xA2, 'Q', 'S', 'I', 0, 0, 7},
          {3, 0xA1, 0x86, 'M', 'D', 'E', 0, 7},
          {3, 0xA2, 'T', '=', '1', 0, 0, 7},
          {3, 0xA1, 0x85, ',', '0', ',', 0, 7},
          {3, 0xA2, '1', '\r', 0, 0, 0, 7}},
         {5, 5, 10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        sim_.clearTrace();
        sleeper_.clear();
        EXPECT_EQ(send(c.text), 1);
        EXPECT_THAT(sim_.reports(*box_), ElementsAreArray(c.reports));
        EXPECT_THAT(sleeper_.mine(), ElementsAreArray(c.pauses));
    }
    EXPECT_THAT(received(), ElementsAre("AT", "ATE 0", "AT+QSIMDET=1,0,1"));
}

TEST_F(BridgeTest, AnEmptyMessageSendsNothing)
{
    EXPECT_EQ(hid_.Tz2701_Send_HidCmd(reinterpret_cast<const std::uint8_t*>(""), 0), 0);
    EXPECT_EQ(hid_.Tz2701_Send_HidCmd(nullptr, 4), 0);
    EXPECT_THAT(sim_.reports(*box_), IsEmpty());
}

TEST_F(BridgeTest, EachHalfOfATwoCycleWriteIsSentOnceMoreWhenItFails)
{
    // The first half fails once, the second half twice: all four writes go.
    sim_.failTransfers(*box_, olva_sim::kOutputTransfers, 0, 1, usb::kErrorIo);
    sim_.failTransfers(*box_, olva_sim::kOutputTransfers, 1, 2, usb::kErrorIo);
    const std::uint8_t payload[8] = {0x86, 'A', 'T', 'E', ' ', '0', '\r', 0};
    EXPECT_EQ(hid_.Tz2701_i2c_two_cycle_write(0, payload), 0);
    EXPECT_EQ(sim_.transferCount(*box_), 4);
}

TEST_F(BridgeTest, AOneCycleWriteTriesThreeTimesAndIsRefusedOffATz2701a)
{
    sim_.failTransfers(*box_, olva_sim::kOutputTransfers, 0, 2, usb::kErrorIo);
    EXPECT_EQ(hid_.Tz2701_i2c_one_cycle_write(0, 0x12, 0, 0, 0, 0), 1);
    EXPECT_EQ(sim_.transferCount(*box_), 3);
    EXPECT_THAT(box_->deviceCommands(), ElementsAre(std::pair{0x12, 0}));

    auto refused = [&] {
        const int before = sim_.transferCount(*box_);
        EXPECT_EQ(hid_.Tz2701_i2c_one_cycle_write(0, 0x12, 0, 0, 0, 0), 0);
        EXPECT_EQ(hid_.Tz2701_i2c_write_read(0xA1, 7, 0, 0, 0), 0);
        EXPECT_EQ(sim_.transferCount(*box_), before);
    };
    HidDeviceAccess::setModel(hid_, OLVA_PRODUCT_TZ2401B);
    refused();
    HidDeviceAccess::setModel(hid_, OLVA_PRODUCT_TZ2701A);
    HidDeviceAccess::setUnplugged(hid_, true);
    refused();
    HidDeviceAccess::setUnplugged(hid_, false);
    hid_.hid_closeEx();
    refused();
}

TEST_F(BridgeTest, TheDirectHangUpGoesInFourByteChunksPastTheQueues)
{
    hid_.Tz2701_Send_at("AT+CSQ\r");
    EXPECT_EQ(hid_.Tz2701_hangup(), 1);
    EXPECT_THAT(sim_.reports(*box_), ElementsAre(Bytes{3, 0xA5, 0x00, 0x84, 'A', 'T', 'H', '\r'}));
    EXPECT_THAT(received(), ElementsAre("ATH"));
    EXPECT_EQ(hid_.queued_commands(), 1u);
}

TEST_F(BridgeTest, QueuesKeepTheirEntriesInOrderAndRefuseBeyondTheirLimits)
{
    EXPECT_EQ(hid_.Tz2701_device_cmd(0x12, -1), 1);
    EXPECT_EQ(hid_.Tz2701_set_talk_path(gsm::kCodeGsmToSlic, 1), 1);
    EXPECT_EQ(hid_.Tz2701_Send_at("AT\r"), 1);
    auto device = hid_.take_command();
    EXPECT_EQ(device->length, 1);
    EXPECT_EQ(device->data[0], 0x12);
    auto path = hid_.take_command();
    EXPECT_EQ(path->length, 2);
    EXPECT_EQ(path->data[1], 1);
    auto at = hid_.take_command();
    EXPECT_EQ(at->type, hid_cmd_op::Kind::kAtCommand);
    EXPECT_FALSE(hid_.take_command());

    const std::string big(kHidCmdOpDataSize + 1, 'A');
    EXPECT_EQ(hid_.Tz2701_Send_MsgToGsm(reinterpret_cast<const std::uint8_t*>(big.data()),
                                        static_cast<int>(big.size()), 1),
              0);
    for (std::size_t i = 0; i < HidDevice::kMaxQueuedCommands; ++i)
        ASSERT_EQ(hid_.Tz2701_Send_at("AT\r"), 1);
    EXPECT_EQ(hid_.Tz2701_Send_at("AT\r"), 0);

    const std::string pdu = "0011000D91683186753200F0000004D4F29C0E\x1A";
    for (std::size_t i = 0; i < HidDevice::kMaxQueuedSmsParts; ++i)
        ASSERT_EQ(hid_.Tz2701_Send_shortMsg(0, 1, 2, pdu.c_str(), static_cast<int>(pdu.size())), 1);
    EXPECT_EQ(hid_.Tz2701_Send_shortMsg(0, 1, 2, pdu.c_str(), static_cast<int>(pdu.size())), 0);
    auto part = hid_.take_sms();
    EXPECT_EQ(part->type, hid_cmd_op::Kind::kSmsPdu);
    EXPECT_EQ(part->sms_index, 1);
    EXPECT_EQ(part->sms_count, 2);
    EXPECT_EQ(part->data[pdu.size()], 0);  // the text stays terminated
}

TEST_F(BridgeTest, TheModuleEchoesUntilEchoIsOffAndTakesAPduUpToCtrlZ)
{
    HidDeviceAccess::startReadThread(hid_);
    send("ATE 0\r");
    EXPECT_FALSE(box_->gsmEcho());
    send("AT+CMGS=18\r");
    send("0011000D91683186753200F0000004D4F29C0E\x1A");
    EXPECT_THAT(box_->gsmPdus(), ElementsAre("0011000D91683186753200F0000004D4F29C0E"));
    EXPECT_THAT(received(),
                ElementsAre("ATE 0", "AT+CMGS=18", "0011000D91683186753200F0000004D4F29C0E"));
}

}  // namespace
