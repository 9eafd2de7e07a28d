// Tz2401 family command reports and their request/reply operations.
#include "sim/sim_tz2401.h"
#include "support/hid_sim_fixture.h"
#include "support/hid_test_box.h"
#include "usb_hid/hid_reports.h"

namespace {

using olva_sim::SimTz2401Box;
using olva_test::Bytes;
using olva_test::HidDeviceAccess;
using olva_test::HidTestBox;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(Tz2401ParamValue, RepliesAndRefusals)
{
    struct Case {
        Bytes reply;
        bool packed;
        bool valid;
        std::uint8_t value;
    };
    const Case cases[] = {
        {{3, 0x42, 0x10, 0, 0, 0, 0, 0}, false, true, 0x42},
        {{3, 0xFE, 0x10, 0, 0, 0, 0, 0}, false, false, 0},
        {{3, 0xFF, 0x10, 0, 0, 0, 0, 0}, false, false, 0},
        {{3, 0x85, 0x20, 0x00, 0, 0, 0, 0}, false, true, 0x85},
        {{3, 0x85, 0x20, 0x80, 0, 0, 0, 0}, false, false, 0},
        {{3, 0x05, 0x20, 0x80, 0, 0, 0, 0}, false, true, 0x05},
        {{2, 0x42, 0x10, 0, 0, 0, 0, 0}, false, false, 0},
        {{3, 0x42, 0x30, 0, 0, 0, 0, 0}, false, false, 0},
        {{3, 0x00, 0x00, 0x00, 0x30, 0x02, 0, 0}, true, true, 0x23},
        {{0, 0x00, 0x00, 0x00, 0xF0, 0xFF, 0, 0}, true, true, 0xFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.reply));
        std::uint8_t value = 0xEE;
        EXPECT_EQ(tz2401_param_value(c.reply.data(), c.packed, value), c.valid);
        EXPECT_EQ(value, c.valid ? c.value : 0xEE);
    }
}

class Tz2401CommandTest : public olva_test::HidSimTest {
protected:
    void open(SimTz2401Box::Options options, OLVA_PRODUCT model = OLVA_PRODUCT_TZ2401B)
    {
        box_ = &sim_.plug<SimTz2401Box>(options);
        ASSERT_TRUE(HidDeviceAccess::openAs(hid_, sim_.path(*box_), model));
        HidDeviceAccess::startReadThread(hid_);
    }

    SimTz2401Box* box_ = nullptr;
    HidTestBox hid_;
};

TEST_F(Tz2401CommandTest, WriteCmdSendsOneEightByteReport)
{
    open(SimTz2401Box::tz2401b());
    EXPECT_TRUE(hid_.Tz2401_write_cmd(3, 0x13, 0x95, 0x01));
    EXPECT_THAT(sim_.reports(*box_), ElementsAre(Bytes{3, 0x13, 0x95, 0x01, 0, 0, 0, 0}));
}

TEST_F(Tz2401CommandTest, VoltageParametersArePackedFromFirmware40OnTz2401b)
{
    struct Case {
        OLVA_PRODUCT model;
        std::uint8_t version;
        std::uint8_t cmd;
        bool valid;
    };
    const Case cases[] = {
        {OLVA_PRODUCT_TZ2401B, 0x40, 0x50, true},
        {OLVA_PRODUCT_TZ2401B, 0x42, 0x60, true},
        // The packed form is not read otherwise, and the reply has no form byte.
        {OLVA_PRODUCT_TZ2401B, 0x3F, 0x50, false},
        {OLVA_PRODUCT_TZ2701A, 0x43, 0x50, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        auto options = SimTz2401Box::tz2401b(c.version);
        options.line_voltage = 0x23;
        open(options, c.model);
        HidDeviceAccess::setVersion1(hid_, c.version);
        std::uint8_t value = 0;
        EXPECT_EQ(hid_.Tz2401_read_param(value, 3, c.cmd, 0, 0), c.valid);
        if (c.valid) {
            EXPECT_EQ(value, 0x23);
        }
    }
}

TEST_F(Tz2401CommandTest, ReadParamexAsksAgainAfterEmptyReplies)
{
    struct Case {
        int empty;
        bool valid;
        int requests;
    };
    for (const Case& c : {Case{2, true, 3}, Case{3, false, 3}, Case{0, true, 1}}) {
        SCOPED_TRACE(c.empty);
        open(SimTz2401Box::tz2401b());
        box_->setEeprom(0x14, {1, 2, 3, 4, 5, 6, 7, 8});
        box_->emptyEepromReplies(c.empty);
        std::uint8_t out[4] = {};
        EXPECT_EQ(hid_.read_paramex(out, 3, 0xB1, 0x14, 4), c.valid);
        EXPECT_EQ(box_->commandCount(0xB1), c.requests);
        if (c.valid) {
            EXPECT_THAT(out, ElementsAre(1, 2, 3, 4));
            ASSERT_TRUE(hid_.read_paramex(out, 3, 0xB2, 0, 0));
            EXPECT_THAT(out, ElementsAre(5, 6, 7, 8));
        }
    }
}

TEST_F(Tz2401CommandTest, ReadParamexRefusesOtherReplies)
{
    open(SimTz2401Box::tz2401b());
    std::uint8_t out[4] = {9, 9, 9, 9};
    // The version request is answered with [3, version, 0x10, ...].
    EXPECT_FALSE(hid_.read_paramex(out, 3, 0xF1, 0, 0));
    EXPECT_THAT(out, ElementsAre(9, 9, 9, 9));
}

TEST_F(Tz2401CommandTest, AnUnansweredRequestFailsAfterItsTimeOut)
{
    open(SimTz2401Box::tz2401b());
    box_->dropReplies(0xF1, 1);
    HidDeviceAccess::setReplyTimeout(hid_, 20);
    std::uint8_t value = 0;
    EXPECT_FALSE(hid_.Tz2401_read_param(value, 3, 0xF1, 0, 0));
    EXPECT_TRUE(hid_.Tz2401_read_param(value, 3, 0xF1, 0, 0));
}

TEST_F(Tz2401CommandTest, SyncReadOnAnUnpluggedBoxTouchesNothing)
{
    open(SimTz2401Box::tz2401b());
    HidDeviceAccess::setUnplugged(hid_, true);
    std::uint8_t data[8];
    EXPECT_EQ(hid_.Tz2401_sync_read(data, sizeof data), -1);
    EXPECT_EQ(sim_.transferCount(*box_), 0);
}

TEST_F(Tz2401CommandTest, LineVoltageReadingOnAndOff)
{
    HidTestBox closed;
    closed.start_read_line_voltage();
    EXPECT_FALSE(closed.line_voltage_reading());

    open(SimTz2401Box::tz2401b());
    // Off is sent even when reading was never on.
    hid_.stop_read_line_voltage();
    hid_.start_read_line_voltage();
    EXPECT_TRUE(hid_.line_voltage_reading());
    EXPECT_TRUE(box_->lineVoltageReading());
    hid_.stop_read_line_voltage();
    EXPECT_FALSE(hid_.line_voltage_reading());
    EXPECT_FALSE(box_->lineVoltageReading());
    EXPECT_THAT(sim_.reports(*box_),
                ElementsAre(Bytes{3, 0x90, 0, 0, 0, 0, 0, 0}, Bytes{3, 0xFE, 0, 0, 0, 0, 0, 0},
                            Bytes{3, 0x70, 0, 0, 0, 0, 0, 0}, Bytes{3, 0x90, 0, 0, 0, 0, 0, 0}));
}

}  // namespace
