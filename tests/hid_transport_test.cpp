// HidDevice's transport: opening by path, output reports, GET_REPORT reads,
// synchronous waits for interrupt reports and closing.
#include <future>

#include "sim/sim_register_box.h"
#include "sim/sim_tz2401.h"
#include "support/hid_sim_fixture.h"
#include "support/hid_test_box.h"
#include "support/log_capture.h"
#include "usb_hid/hid_reports.h"

namespace {

using olva_sim::SimRegisterBox;
using olva_sim::SimTz2401Box;
using olva_sim::TraceEntry;
using olva_test::Bytes;
using olva_test::HidDeviceAccess;
using olva_test::HidTestBox;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class TransportTest : public olva_test::HidSimTest {};

TEST_F(TransportTest, OpensTheHidInterfaceNamedByItsPath)
{
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2701a());
    const std::string path = sim_.path(box);
    // Bus 1, the box's address, HID interface 3 behind three audio interfaces.
    EXPECT_EQ(path.substr(0, 5), "0001:");
    EXPECT_EQ(path.substr(path.size() - 3), ":03");

    HidTestBox hid;
    ASSERT_TRUE(HidDeviceAccess::openAs(hid, path, OLVA_PRODUCT_TZ2401B));
    EXPECT_TRUE(sim_.claimed(box));
    const auto info = HidDeviceAccess::recordInfo(hid);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->input_endpoint, 0x84);
    EXPECT_EQ(info->input_packet_size, 8);
    EXPECT_EQ(info->output_endpoint, 0x05);
    EXPECT_EQ(info->interface, 3);

    hid.hidClose();
    EXPECT_FALSE(hid.is_open());
    EXPECT_FALSE(sim_.claimed(box));
}

TEST_F(TransportTest, OpenFailsCleanlyWhenTheBoxCannotBeTaken)
{
    struct Case {
        const char* name;
        std::function<void(olva_sim::SimBackend&, const olva_sim::SimBox&)> arrange;
        std::function<std::string(const std::string&)> path;
        bool opens;
    };
    const auto same = [](const std::string& p) { return p; };
    const Case cases[] = {
        {"no such path", [](auto&, auto&) {}, [](const std::string& p) { return p + "x"; }, false},
        {"an audio interface", [](auto&, auto&) {},
         [](const std::string& p) { return p.substr(0, p.size() - 2) + "00"; }, false},
        {"open refused", [](auto& sim, auto& b) { sim.failOpen(b, usb::kErrorAccess); }, same,
         false},
        {"driver will not detach",
         [](auto& sim, auto& b) { sim.setKernelDriver(b, true, usb::kErrorBusy); }, same, false},
        {"claim refused", [](auto& sim, auto& b) { sim.failClaim(b, usb::kErrorBusy); }, same,
         false},
        {"driver detached", [](auto& sim, auto& b) { sim.setKernelDriver(b, true); }, same, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
        c.arrange(sim_, box);
        HidTestBox hid;
        EXPECT_EQ(HidDeviceAccess::openAs(hid, c.path(sim_.path(box)), OLVA_PRODUCT_TZ2401B),
                  c.opens);
        EXPECT_EQ(hid.is_open(), c.opens);
        EXPECT_EQ(sim_.claimed(box), c.opens);
        if (c.opens) {
            EXPECT_FALSE(sim_.kernelDriverAttached(box));
        }
    }
}

TEST_F(TransportTest, ReportIdZeroIsNotSentAndTheFullLengthIsReturned)
{
    struct Case {
        const char* name;
        bool interrupt_endpoint;
        Bytes report;
        TraceEntry::Kind kind;
        std::uint16_t value;
        std::size_t wire_length;
    };
    const Case cases[] = {
        {"SET_REPORT, id 3", false, {3, 0x30, 0, 0, 0, 0, 0, 0}, TraceEntry::Kind::kSetReport,
         0x0203, 8},
        {"SET_REPORT, id 0", false, {0, 0x60, 1, 2, 0x10}, TraceEntry::Kind::kSetReport, 0x0200, 4},
        {"interrupt endpoint, id 3", true, {3, 0xF1, 0, 0, 0, 0, 0, 0},
         TraceEntry::Kind::kInterruptOut, 0, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto options = SimTz2401Box::tz2401b();
        options.out_endpoint = c.interrupt_endpoint;
        SimTz2401Box& box = sim_.plug<SimTz2401Box>(options);
        HidTestBox hid;
        ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(box), OLVA_PRODUCT_TZ2401B));
        EXPECT_EQ(HidDeviceAccess::write(hid, c.report), static_cast<int>(c.report.size()));
        const auto trace = sim_.trace(box);
        ASSERT_EQ(trace.size(), 1u);
        EXPECT_EQ(trace[0].kind, c.kind);
        EXPECT_EQ(trace[0].report, c.report);
        EXPECT_EQ(trace[0].wire_length, c.wire_length);
        if (c.kind == TraceEntry::Kind::kSetReport) {
            EXPECT_EQ(trace[0].value, c.value);
            EXPECT_EQ(trace[0].index, 3);
        }
    }
}

TEST_F(TransportTest, SetReportRetriesThreeTimesBeforeTheUsbErrorEvent)
{
    struct Case {
        int failures;
        int result;
        int transfers;
        std::vector<std::pair<int, int>> events;
    };
    const Case cases[] = {
        {0, 8, 1, {}},
        {2, 8, 3, {}},
        {3, -1, 3, {{41, usb::kErrorIo}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failures);
        SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
        HidTestBox hid;
        ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(box), OLVA_PRODUCT_TZ2401B));
        sim_.failTransfers(box, olva_sim::kOutputTransfers, 0, c.failures, usb::kErrorIo);
        EXPECT_EQ(HidDeviceAccess::write(hid, {3, 0x30, 0, 0, 0, 0, 0, 0}), c.result);
        EXPECT_EQ(sim_.transferCount(box), c.transfers);
        EXPECT_EQ(hid.events(), c.events);
    }
}

TEST_F(TransportTest, InterruptEndpointWriteFailsOnceWithoutAnEvent)
{
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2701a());
    HidTestBox hid;
    ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(box), OLVA_PRODUCT_TZ2701A));
    sim_.failTransfers(box, olva_sim::kOutputTransfers, 0, 1, usb::kErrorIo);
    EXPECT_EQ(HidDeviceAccess::write(hid, {3, 0x30, 0, 0, 0, 0, 0, 0}), -1);
    EXPECT_EQ(sim_.transferCount(box), 1);
    EXPECT_THAT(hid.events(), IsEmpty());
    EXPECT_FALSE(hid.sync_write(nullptr, 8));
}

TEST_F(TransportTest, GetReportSucceedsOnlyWithTheWholeReport)
{
    struct Case {
        const char* name;
        int error;  // 0: none injected
        unsigned long length;
        bool result;
        std::vector<std::pair<int, int>> events;
        std::vector<std::uint8_t> cleared_halts;
    };
    const Case cases[] = {
        {"whole report", 0, 4, true, {}, {}},
        {"short report", 0, 5, false, {}, {}},
        {"stall", usb::kErrorPipe, 4, false, {}, {0}},
        {"time-out", usb::kErrorTimeout, 4, false, {}, {}},
        {"other error", usb::kErrorIo, 4, false, {{41, usb::kErrorIo}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimRegisterBox& box = sim_.plug<SimRegisterBox>();
        box.setStatus(0xA0);
        HidTestBox hid;
        ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(box), OLVA_PRODUCT_TZ2501B));
        if (c.error)
            sim_.failTransfers(box, olva_sim::kGetReports, 0, 1, c.error);
        Bytes data(c.length, 0xEE);
        EXPECT_EQ(hid.sync_read(data.data(), data.size()), c.result);
        if (c.result) {
            EXPECT_EQ(data, (Bytes{0, 0xA0, 0, 0x31}));
        }
        EXPECT_EQ(hid.events(), c.events);
        EXPECT_EQ(sim_.clearedHalts(box), c.cleared_halts);
    }
}

TEST_F(TransportTest, GetReportOnAnUnpluggedBoxSendsNothing)
{
    SimRegisterBox& box = sim_.plug<SimRegisterBox>();
    HidTestBox hid;
    ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(box), OLVA_PRODUCT_TZ2501B));
    HidDeviceAccess::setUnplugged(hid, true);
    std::uint8_t data[4];
    EXPECT_FALSE(hid.sync_read(data, sizeof data));
    EXPECT_EQ(sim_.transferCount(box), 0);
}

TEST_F(TransportTest, GetReportOnARecordBeingClosedIsNoUsbError)
{
    // The Tz2501B's poll can be in its read while the box is closed.
    SimRegisterBox& box = sim_.plug<SimRegisterBox>();
    HidTestBox hid;
    ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(box), OLVA_PRODUCT_TZ2501B));
    HidDeviceAccess::markRecordClosing(hid);
    std::uint8_t data[4];
    int error = 0;
    EXPECT_FALSE(hid.sync_read(data, sizeof data, &error));
    EXPECT_EQ(error, usb::kErrorNoDevice);
    EXPECT_THAT(hid.events(), IsEmpty());
    EXPECT_EQ(sim_.transferCount(box), 0);
}

class TimedReadTest : public TransportTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(HidDeviceAccess::openAs(hid_, sim_.path(box_), OLVA_PRODUCT_TZ2401B));
        HidDeviceAccess::startReadThread(hid_);
    }

    SimTz2401Box& box_ = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    HidTestBox hid_;
};

TEST_F(TimedReadTest, ZeroOrNegativeTimeIsNotAWait)
{
    std::uint8_t data[8];
    EXPECT_EQ(HidDeviceAccess::readTimeout(hid_, data, sizeof data, 0), 0);
    EXPECT_EQ(HidDeviceAccess::readTimeout(hid_, data, sizeof data, -2), 0);
}

TEST_F(TimedReadTest, WithoutAReadThreadThereIsNothingToWaitFor)
{
    SimTz2401Box& other = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    HidTestBox hid;
    ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(other), OLVA_PRODUCT_TZ2401B));
    std::uint8_t data[8];
    EXPECT_EQ(HidDeviceAccess::readTimeout(hid, data, sizeof data, 60000), -1);
}

TEST_F(TimedReadTest, AReportHeldBeforeTheWaitIsNotReturned)
{
    sim_.pushInput(box_, {3, 0xAA, 0, 0, 0, 0, 0, 0});
    ASSERT_TRUE(olva_test::eventually([&] { return sim_.settled(box_); }));
    // Reports keep coming until the reader has one: it must be a later one.
    std::uint8_t data[8] = {};
    auto reader = std::async(std::launch::async, [&] {
        return HidDeviceAccess::readTimeout(hid_, data, sizeof data, 10000);
    });
    while (reader.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        sim_.pushInput(box_, {3, 0xBB, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(reader.get(), 8);
    EXPECT_EQ(data[1], 0xBB);
}

TEST_F(TimedReadTest, AReplyReapedBeforeTheReaderWaitsIsNotLost)
{
    // The read thread may reap the box's answer as soon as the request's
    // transfer has ended, before the reader begins to wait.
    std::uint8_t version = 0;
    EXPECT_TRUE(hid_.Tz2401_read_param(version, 3, 0xF1, 0, 0));
    EXPECT_EQ(version, 0x42);
}

TEST_F(TimedReadTest, ATimedReadWithoutAReplyTimesOut)
{
    std::uint8_t data[8];
    EXPECT_EQ(HidDeviceAccess::readTimeout(hid_, data, sizeof data, 20), 0);
}

TEST_F(TimedReadTest, ItsLogLinesNameTheTimedRead)
{
    olva_test::LogCapture log;
    ASSERT_TRUE(log.started());
    std::uint8_t data[8];
    EXPECT_EQ(HidDeviceAccess::readTimeout(hid_, data, sizeof data, 0), 0);
    EXPECT_EQ(HidDeviceAccess::readTimeout(hid_, data, sizeof data, 20), 0);
    const std::string text = log.text();
    EXPECT_THAT(text, HasSubstr("hid_read_timeout Purely non-blocking"));
    EXPECT_THAT(text, HasSubstr("hid_read_timeout read time out"));
}

TEST_F(TransportTest, ClosingTwiceIsHarmlessAndEmptiesTheQueues)
{
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    HidTestBox hid;
    ASSERT_TRUE(hid.hid_open(sim_.path(box).c_str(), 2, OLVA_PRODUCT_TZ2401B));
    EXPECT_EQ(hid.device_index(), 2);
    EXPECT_EQ(hid.tag(), "hid.2");
    HidDeviceAccess::queueCommands(hid, 3, 2);
    hid.hidClose();
    EXPECT_EQ(HidDeviceAccess::queued(hid), (std::pair<std::size_t, std::size_t>{0, 0}));
    EXPECT_EQ(hid.device_index(), -1);
    EXPECT_EQ(hid.path(), "");
    EXPECT_FALSE(hid.read_thread_active());
    hid.hidClose();
    EXPECT_FALSE(hid.is_open());
}

TEST_F(TransportTest, VersionNumberNeedsAnOpenBox)
{
    HidTestBox hid;
    float version = 1.5f;
    EXPECT_EQ(hid.olva_get_device_versionnum(version), -1);
    EXPECT_EQ(version, 1.5f);

    SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b(0x42));
    ASSERT_TRUE(hid.hid_open(sim_.path(box).c_str(), 1, OLVA_PRODUCT_TZ2401B));
    EXPECT_EQ(hid.olva_get_device_versionnum(version), 0);
    EXPECT_FLOAT_EQ(version, 4.2f);
}

TEST(HidVersionNumber, ReadsTheVersionBytesAsDecimalText)
{
    struct Case {
        int model;
        std::uint8_t version1, version2;
        float value;
    };
    const Case cases[] = {
        {OLVA_PRODUCT_TZ2701A, 0x43, 0x20, 20.0f},
        {OLVA_PRODUCT_TZ2701A, 0x43, 0x09, 9.0f},
        {OLVA_PRODUCT_TZ2401B, 0x42, 0x00, 4.2f},
        {OLVA_PRODUCT_TZ2501B, 0x70, 0x70, 7.07f},
        {OLVA_PRODUCT_TZ2501B, 0x81, 0x81, 8.181f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_FLOAT_EQ(hid_version_number(c.model, c.version1, c.version2), c.value);
    }
}

}  // namespace
