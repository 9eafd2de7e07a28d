// The simulated bus keeps libusb's order: a box's answer to an output
// report is on the bus only once the report's transfer has ended (and a
// bus delay after it), and reaches its interrupt transfer only inside event
// handling or a GET_REPORT, never inside the request that asked for it.
#include <chrono>
#include <memory>
#include <vector>

#include "sim/sim_register_box.h"
#include "sim/sim_tz2401.h"
#include "support/hid_sim_fixture.h"
#include "support/test_box.h"

namespace {

using olva_sim::SimTz2401Box;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kIn = 0x84;
constexpr std::uint8_t kOut = 0x05;
const Bytes kVersionRequest = {3, 0xF1, 0, 0, 0, 0, 0, 0};

class SimBusOrderTest : public olva_test::HidSimTest {
protected:
    void SetUp() override
    {
        const auto [bus, address] = olva_test::TestBox::usbLocation(sim_.path(box_));
        ASSERT_EQ(sim_.open(static_cast<std::uint8_t>(bus), static_cast<std::uint8_t>(address),
                            &handle_),
                  0);
        ASSERT_EQ(handle_->claimInterface(box_.layout().hid_interface), 0);
        auto completion = [this](usb::TransferStatus status, const std::uint8_t* data,
                                 int length) {
            if (status != usb::TransferStatus::kCompleted)
                return;
            answers_.emplace_back(data, data + length);
            completed_ = Clock::now();
            transfer_->submit();
        };
        transfer_ = handle_->makeInterruptInTransfer(kIn, 8, 10000, completion);
        ASSERT_NE(transfer_, nullptr);
        ASSERT_EQ(transfer_->submit(), 0);
    }
    void TearDown() override
    {
        transfer_->cancel();
        while (transfer_->inFlight())
            sim_.handleEvents(10);
        transfer_.reset();
        handle_.reset();
        HidSimTest::TearDown();
    }
    // The version request as an interrupt OUT transfer; when it began.
    Clock::time_point request()
    {
        const Clock::time_point began = Clock::now();
        Bytes report = kVersionRequest;
        int transferred = 0;
        EXPECT_EQ(handle_->interruptTransfer(kOut, report.data(), 8, &transferred, 1000), 0);
        return began;
    }

    SimTz2401Box& box_ = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2701a());
    std::unique_ptr<usb::DeviceHandle> handle_;
    std::unique_ptr<usb::InterruptInTransfer> transfer_;
    std::vector<Bytes> answers_;
    Clock::time_point completed_;
};

TEST_F(SimBusOrderTest, AnAnswerIsReapedByEventHandlingNeverInsideItsRequest)
{
    request();
    EXPECT_TRUE(answers_.empty()) << "reaped inside the request";
    // A second request does not reap the first one's answer either.
    request();
    EXPECT_TRUE(answers_.empty());
    // One pass of event handling reaps both, in order.
    EXPECT_EQ(sim_.handleEvents(1000), 0);
    ASSERT_EQ(answers_.size(), 2u);
    EXPECT_EQ(answers_[0][1], 0x43);
}

TEST_F(SimBusOrderTest, AGetReportReapsWhatIsDue)
{
    request();
    ASSERT_TRUE(answers_.empty());
    std::uint8_t data[8] = {};
    // The family answers GET_REPORT with a stall; the transfer still runs
    // event handling.
    const auto interface = static_cast<std::uint16_t>(box_.layout().hid_interface);
    handle_->controlTransfer(0xA1, 1, 0x0100, interface, data, 8, 60);
    EXPECT_EQ(answers_.size(), 1u);
}

TEST_F(SimBusOrderTest, AnAnswerComesABusDelayAfterItsRequestEnded)
{
    for (const int delay_ms : {1, 4, 8}) {
        SCOPED_TRACE(delay_ms);
        answers_.clear();
        sim_.setBusDelay(delay_ms);
        const Clock::time_point began = request();
        EXPECT_FALSE(sim_.settled(box_));
        for (int pass = 0; pass < 100 && answers_.empty(); ++pass)
            ASSERT_EQ(sim_.handleEvents(100), 0);
        ASSERT_EQ(answers_.size(), 1u);
        EXPECT_GE(completed_ - began, std::chrono::milliseconds(delay_ms));
        EXPECT_TRUE(sim_.settled(box_));
    }
}

}  // namespace
