// The real libusb backend against a box emulated by umockdev: libusb reads
// the box from the test bed's sysfs and talks to it through usbfs ioctls
// that the box's handler answers. Runs under umockdev-wrapper.
#include "usb_hid/libusb_backend.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sched.h>

#include "support/eventually.h"
#include "umockdev_bed.h"
#include "umockdev_usb_box.h"

namespace {

using olva_test::UmockdevUsbBox;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kHidInterface = 0;
constexpr std::uint8_t kEndpointIn = 0x81;
constexpr std::uint8_t kEndpointOut = 0x02;

[[maybe_unused]] ::testing::Environment* const g_environment = olva_test::addUmockdevBed();

struct Completion {
    usb::TransferStatus status;
    Bytes data;
};

std::string describe(const usb::InterfaceInfo& interface)
{
    char text[64];
    std::snprintf(text, sizeof text, "interface %d alt %d class %u:", interface.number,
                  interface.alt_setting, interface.interface_class);
    std::string result = text;
    for (const usb::EndpointInfo& endpoint : interface.endpoints) {
        std::snprintf(text, sizeof text, " %02x/%u/%u", endpoint.address, endpoint.attributes,
                      endpoint.max_packet_size);
        result += text;
    }
    return result;
}

class LibusbBackendTest : public olva_test::UmockdevBedTest {
protected:
    void TearDown() override
    {
        // A test that failed half-way may leave its transfer with libusb.
        if (transfer_ && transfer_->inFlight() && transfer_->cancel() == usb::kSuccess)
            runEventsUntil([this] { return !transfer_->inFlight(); });
        transfer_.reset();
        if (handle_) {
            if (claimed_)
                handle_->releaseInterface(kHidInterface);
            handle_.reset();
        }
        if (bedStands()) {
            EXPECT_EQ(box().unexpectedRequests(), std::vector<unsigned long>{})
                << "libusb made usbfs requests the box does not emulate";
        }
    }

    static usb::Backend& backend() { return *olva_test::umockdevBed().backend; }

    void openAndClaim()
    {
        ASSERT_EQ(backend().open(1, 2, &handle_), usb::kSuccess);
        ASSERT_NE(handle_, nullptr);
        ASSERT_EQ(handle_->claimInterface(kHidInterface), usb::kSuccess);
        claimed_ = true;
    }

    // Runs libusb's event handling until done() holds; false after the
    // tests' wait.
    bool runEventsUntil(const std::function<bool()>& done)
    {
        return olva_test::eventually([&] {
            if (!done())
                backend().handleEvents(20);
            return done();
        });
    }

    // An interrupt IN transfer on the box's input endpoint, kept by the
    // fixture, that records its completions; then(), when set, runs inside
    // the callback.
    usb::InterruptInTransfer* makeInTransfer(std::function<void()> then = nullptr)
    {
        then_ = std::move(then);
        transfer_ = handle_->makeInterruptInTransfer(
            kEndpointIn, 8, 0,
            [this](usb::TransferStatus status, const std::uint8_t* data, int length) {
                completions_.push_back({status, Bytes(data, data + (length > 0 ? length : 0))});
                if (then_)
                    then_();
            });
        return transfer_.get();
    }

    int getReport(std::uint8_t* data, std::uint16_t length)
    {
        return handle_->controlTransfer(0xA1, 1, 0x0100, kHidInterface, data, length, 60);
    }

    std::unique_ptr<usb::DeviceHandle> handle_;
    bool claimed_ = false;
    std::unique_ptr<usb::InterruptInTransfer> transfer_;  // destroyed before handle_
    std::vector<Completion> completions_;
    std::function<void()> then_;
};

TEST_F(LibusbBackendTest, ListsTheBoxWithEveryInterfaceAndAlternateSetting)
{
    std::vector<usb::DeviceInfo> devices;
    ASSERT_EQ(backend().listDevices(&devices), usb::kSuccess);
    const usb::DeviceInfo* found = nullptr;
    for (const usb::DeviceInfo& device : devices)
        if (device.vendor_id == 0x04d9 && device.product_id == 0x2832)
            found = &device;
    ASSERT_NE(found, nullptr) << devices.size() << " devices listed, none is 04d9:2832";

    EXPECT_EQ(found->bus, 1);
    EXPECT_EQ(found->address, 2);
    EXPECT_EQ(found->manufacturer_index, 1);
    EXPECT_EQ(found->product_index, 2);
    EXPECT_EQ(found->serial_index, 3);
    std::vector<std::string> interfaces;
    for (const usb::InterfaceInfo& interface : found->interfaces)
        interfaces.push_back(describe(interface));
    EXPECT_EQ(interfaces, (std::vector<std::string>{
                              "interface 0 alt 0 class 3: 81/3/8 02/3/8",
                              "interface 1 alt 0 class 1:",
                              "interface 1 alt 1 class 1: 83/5/100",
                          }));

    // The path the layer above opens the box by: bus, address and the number
    // of its HID interface.
    const usb::InterfaceInfo* hid = nullptr;
    for (const usb::InterfaceInfo& interface : found->interfaces)
        if (interface.interface_class == usb::kClassHid && !hid)
            hid = &interface;
    ASSERT_NE(hid, nullptr);
    char path[64];
    std::snprintf(path, sizeof path, "%04x:%04x:%02x", found->bus, found->address, hid->number);
    EXPECT_STREQ(path, "0001:0002:00");
}

TEST_F(LibusbBackendTest, OpensOnlyTheBusAndAddressGiven)
{
    struct Case {
        std::uint8_t bus;
        std::uint8_t address;
        int result;
    };
    for (const Case& c : {Case{1, 3, usb::kErrorNotFound}, Case{2, 2, usb::kErrorNotFound},
                          Case{1, 2, usb::kSuccess}}) {
        SCOPED_TRACE(testing::Message() << "bus " << int(c.bus) << " address " << int(c.address));
        std::unique_ptr<usb::DeviceHandle> handle;
        EXPECT_EQ(backend().open(c.bus, c.address, &handle), c.result);
        EXPECT_EQ(handle != nullptr, c.result == usb::kSuccess);
    }
}

TEST_F(LibusbBackendTest, ClaimsAndReleasesTheHidInterface)
{
    ASSERT_NO_FATAL_FAILURE(openAndClaim());
    EXPECT_EQ(handle_->kernelDriverActive(kHidInterface), 0);
    EXPECT_EQ(box().claimed(), std::vector<unsigned int>{kHidInterface});
    EXPECT_EQ(handle_->releaseInterface(kHidInterface), usb::kSuccess);
    claimed_ = false;
    EXPECT_EQ(box().released(), std::vector<unsigned int>{kHidInterface});
}

TEST_F(LibusbBackendTest, DetachesTheKernelDriverBoundToTheInterface)
{
    box().bindDriver("usbhid");
    ASSERT_EQ(backend().open(1, 2, &handle_), usb::kSuccess);
    EXPECT_EQ(handle_->kernelDriverActive(kHidInterface), 1);
    EXPECT_EQ(handle_->detachKernelDriver(kHidInterface), usb::kSuccess);
    EXPECT_EQ(handle_->kernelDriverActive(kHidInterface), 0);
    EXPECT_EQ(handle_->detachKernelDriver(kHidInterface), usb::kErrorNotFound);
}

TEST_F(LibusbBackendTest, SetReportSendsAClassOutputReportRequest)
{
    ASSERT_NO_FATAL_FAILURE(openAndClaim());
    Bytes report{0x03, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
    EXPECT_EQ(handle_->controlTransfer(0x21, 9, 0x0200 | 0x03, kHidInterface, report.data(), 8, 50),
              8);

    const std::vector<UmockdevUsbBox::ControlRequest> requests = box().controlRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].setup,
              (std::array<std::uint8_t, 8>{0x21, 0x09, 0x03, 0x02, 0x00, 0x00, 0x08, 0x00}));
    EXPECT_EQ(requests[0].data, report);
}

TEST_F(LibusbBackendTest, GetReportReturnsWhatTheBoxAnswered)
{
    ASSERT_NO_FATAL_FAILURE(openAndClaim());
    struct Case {
        Bytes reply;
        int result;
    };
    // A short answer is reported as short, so that the caller can refuse it.
    for (const Case& c : {Case{{0x03, 0xA0, 1, 2, 3, 4, 5, 6}, 8}, Case{{0x03, 0xA0, 1, 2}, 4}}) {
        SCOPED_TRACE(testing::Message() << c.reply.size() << "-byte answer");
        box().reset();
        box().setControlReply(c.reply);
        Bytes buffer(8, 0xEE);
        EXPECT_EQ(getReport(buffer.data(), 8), c.result);
        Bytes expected = c.reply;
        expected.resize(8, 0xEE);
        EXPECT_EQ(buffer, expected);

        const std::vector<UmockdevUsbBox::ControlRequest> requests = box().controlRequests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].setup,
                  (std::array<std::uint8_t, 8>{0xA1, 0x01, 0x00, 0x01, 0x00, 0x00, 0x08, 0x00}));
    }
}

TEST_F(LibusbBackendTest, InterruptOutWritesTheReportToTheEndpoint)
{
    ASSERT_NO_FATAL_FAILURE(openAndClaim());
    Bytes report{0x03, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
    int transferred = -1;
    EXPECT_EQ(handle_->interruptTransfer(kEndpointOut, report.data(), 8, &transferred, 1000),
              usb::kSuccess);
    EXPECT_EQ(transferred, 8);
    const std::vector<UmockdevUsbBox::InterruptOut> outs = box().interruptOuts();
    ASSERT_EQ(outs.size(), 1u);
    EXPECT_EQ(outs[0].endpoint, kEndpointOut);
    EXPECT_EQ(outs[0].data, report);
}

TEST_F(LibusbBackendTest, MakesNoInterruptTransferWithoutABuffer)
{
    ASSERT_NO_FATAL_FAILURE(openAndClaim());
    for (int length : {0, -1})
        EXPECT_EQ(handle_->makeInterruptInTransfer(kEndpointIn, length, 0, nullptr), nullptr)
            << "length " << length;
}

TEST_F(LibusbBackendTest, InterruptInCompletesWithTheReportInsideHandleEvents)
{
    ASSERT_NO_FATAL_FAILURE(openAndClaim());
    usb::InterruptInTransfer* const transfer = makeInTransfer();
    ASSERT_NE(transfer, nullptr);
    ASSERT_EQ(transfer->submit(), usb::kSuccess);
    EXPECT_TRUE(transfer->inFlight());
    EXPECT_EQ(transfer->submit(), usb::kErrorBusy);
    EXPECT_TRUE(transfer->inFlight());
    EXPECT_EQ(box().waitingInterruptIn(), 1u);

    const Bytes report{0x03, 0x5A, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    box().sendInterruptIn(report);
    EXPECT_TRUE(completions_.empty()) << "completed outside event handling";
    ASSERT_TRUE(runEventsUntil([&] { return !completions_.empty(); }));
    ASSERT_EQ(completions_.size(), 1u);
    EXPECT_EQ(completions_[0].status, usb::TransferStatus::kCompleted);
    EXPECT_EQ(completions_[0].data, report);
    EXPECT_FALSE(transfer->inFlight());
}

TEST_F(LibusbBackendTest, InterruptInCompletesInsideASynchronousTransfer)
{
    ASSERT_NO_FATAL_FAILURE(openAndClaim());
    usb::InterruptInTransfer* const transfer = makeInTransfer();
    ASSERT_NE(transfer, nullptr);
    ASSERT_EQ(transfer->submit(), usb::kSuccess);
    box().sendInterruptIn({0x03, 0x01});
    box().setControlReply({0x03, 0x02});
    std::uint8_t buffer[8]{};
    EXPECT_EQ(getReport(buffer, 8), 2);
    ASSERT_EQ(completions_.size(), 1u);
    EXPECT_EQ(completions_[0].data, (Bytes{0x03, 0x01}));
    EXPECT_FALSE(transfer->inFlight());
}

// The box answers a request with an interrupt report that is on the bus
// only after the request's own transfer has ended: the request returns
// without it, and a later pass of event handling reaps it.
TEST_F(LibusbBackendTest, AnAnswerIsReapedAfterItsRequestNeverInsideIt)
{
    ASSERT_NO_FATAL_FAILURE(openAndClaim());
    box().setResponder([](const Bytes& request) {
        return std::vector<Bytes>{{0x03, 0xA3, request[5], request[6], 1, 2, 3, 4}};
    });
    usb::InterruptInTransfer* const transfer = makeInTransfer();
    ASSERT_NE(transfer, nullptr);
    ASSERT_EQ(transfer->submit(), usb::kSuccess);
    Bytes request{0x03, 0xA0, 0xA3, 0x07, 0x00, 0x01, 0x10, 0x00};
    int transferred = 0;
    EXPECT_EQ(handle_->interruptTransfer(kEndpointOut, request.data(), 8, &transferred, 1000),
              usb::kSuccess);
    EXPECT_TRUE(completions_.empty()) << "the answer was reaped inside its request";
    ASSERT_TRUE(runEventsUntil([&] { return !completions_.empty(); }));
    EXPECT_EQ(completions_[0].data, (Bytes{0x03, 0xA3, 0x01, 0x10, 1, 2, 3, 4}));
    box().setResponder(nullptr);
}

TEST_F(LibusbBackendTest, AResubmittedTransferStaysInFlightUntilItsLastCallbackReturns)
{
    ASSERT_NO_FATAL_FAILURE(openAndClaim());
    std::vector<bool> in_flight_in_callback;
    std::vector<int> resubmit_results;
    usb::InterruptInTransfer* const transfer = makeInTransfer([&] {
        in_flight_in_callback.push_back(transfer_->inFlight());
        if (completions_.size() == 1)
            resubmit_results.push_back(transfer_->submit());
    });
    ASSERT_NE(transfer, nullptr);
    ASSERT_EQ(transfer->submit(), usb::kSuccess);

    box().sendInterruptIn({0x03, 0x01});
    ASSERT_TRUE(runEventsUntil([&] { return completions_.size() == 1; }));
    EXPECT_EQ(resubmit_results, std::vector<int>{usb::kSuccess});
    EXPECT_TRUE(transfer->inFlight());
    EXPECT_EQ(box().waitingInterruptIn(), 1u);

    box().sendInterruptIn({0x03, 0x02});
    ASSERT_TRUE(runEventsUntil([&] { return completions_.size() == 2; }));
    EXPECT_EQ(completions_[1].data, (Bytes{0x03, 0x02}));
    EXPECT_FALSE(transfer->inFlight());
    EXPECT_EQ(in_flight_in_callback, (std::vector<bool>{true, true}));
}

TEST_F(LibusbBackendTest, CancelEndsTheTransferThroughItsCallback)
{
    ASSERT_NO_FATAL_FAILURE(openAndClaim());
    usb::InterruptInTransfer* const transfer = makeInTransfer();
    ASSERT_NE(transfer, nullptr);
    ASSERT_EQ(transfer->submit(), usb::kSuccess);
    ASSERT_EQ(transfer->cancel(), usb::kSuccess);
    // Still owned by libusb until the callback has run: not yet safe to free.
    EXPECT_TRUE(transfer->inFlight());

    ASSERT_TRUE(runEventsUntil([&] { return !completions_.empty(); }));
    ASSERT_EQ(completions_.size(), 1u);
    EXPECT_EQ(completions_[0].status, usb::TransferStatus::kCancelled);
    EXPECT_FALSE(transfer->inFlight());
    EXPECT_EQ(box().waitingInterruptIn(), 0u);
    EXPECT_EQ(transfer->cancel(), usb::kErrorNotFound);
}

TEST_F(LibusbBackendTest, AStallIsAPipeErrorAndTheHaltCanBeCleared)
{
    ASSERT_NO_FATAL_FAILURE(openAndClaim());
    struct Case {
        const char* name;
        std::function<int()> transfer;
    };
    std::uint8_t data[8] = {0x03};
    const Case cases[] = {
        {"GET_REPORT", [&] { return getReport(data, 8); }},
        {"SET_REPORT",
         [&] { return handle_->controlTransfer(0x21, 9, 0x0203, kHidInterface, data, 8, 50); }},
        {"interrupt OUT",
         [&] {
             int transferred = 0;
             return handle_->interruptTransfer(kEndpointOut, data, 8, &transferred, 1000);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        box().stallNext(1);
        EXPECT_EQ(c.transfer(), usb::kErrorPipe);
        EXPECT_GE(c.transfer(), 0) << "the stall was armed for one transfer only";
    }
    EXPECT_EQ(handle_->clearHalt(0), usb::kSuccess);
    EXPECT_EQ(box().clearedHalts(), std::vector<unsigned int>{0});
}

TEST_F(LibusbBackendTest, AStalledInterruptInEndsWithStall)
{
    ASSERT_NO_FATAL_FAILURE(openAndClaim());
    usb::InterruptInTransfer* const transfer = makeInTransfer();
    ASSERT_NE(transfer, nullptr);
    box().stallNext(1);
    ASSERT_EQ(transfer->submit(), usb::kSuccess);
    ASSERT_TRUE(runEventsUntil([&] { return !completions_.empty(); }));
    EXPECT_EQ(completions_[0].status, usb::TransferStatus::kStall);
    EXPECT_FALSE(transfer->inFlight());
}

TEST_F(LibusbBackendTest, UnplugEndsTheTransferInFlightAndFailsLaterCallsWithNoDevice)
{
    ASSERT_NO_FATAL_FAILURE(openAndClaim());
    usb::InterruptInTransfer* const transfer = makeInTransfer();
    ASSERT_NE(transfer, nullptr);
    ASSERT_EQ(transfer->submit(), usb::kSuccess);
    box().unplug();

    ASSERT_TRUE(runEventsUntil([&] { return !completions_.empty(); }));
    ASSERT_EQ(completions_.size(), 1u);
    EXPECT_EQ(completions_[0].status, usb::TransferStatus::kNoDevice);
    EXPECT_FALSE(transfer->inFlight()) << "a closing reader would wait for it forever";

    EXPECT_EQ(transfer->submit(), usb::kErrorNoDevice);
    EXPECT_FALSE(transfer->inFlight());
    std::uint8_t data[8] = {0x03};
    int transferred = 0;
    EXPECT_EQ(getReport(data, 8), usb::kErrorNoDevice);
    EXPECT_EQ(handle_->controlTransfer(0x21, 9, 0x0203, kHidInterface, data, 8, 50),
              usb::kErrorNoDevice);
    EXPECT_EQ(handle_->interruptTransfer(kEndpointOut, data, 8, &transferred, 1000),
              usb::kErrorNoDevice);
    EXPECT_EQ(handle_->kernelDriverActive(kHidInterface), usb::kErrorNoDevice);
    EXPECT_EQ(handle_->releaseInterface(kHidInterface), usb::kErrorNoDevice);
}

TEST_F(LibusbBackendTest, UnplugDuringASynchronousTransferGivesNoDevice)
{
    struct Case {
        const char* name;
        std::function<int(usb::DeviceHandle&)> transfer;
    };
    const Case cases[] = {
        {"GET_REPORT",
         [](usb::DeviceHandle& handle) {
             std::uint8_t data[8]{};
             return handle.controlTransfer(0xA1, 1, 0x0100, kHidInterface, data, 8, 60);
         }},
        {"SET_REPORT",
         [](usb::DeviceHandle& handle) {
             std::uint8_t data[8] = {0x03};
             return handle.controlTransfer(0x21, 9, 0x0203, kHidInterface, data, 8, 50);
         }},
        {"interrupt OUT",
         [](usb::DeviceHandle& handle) {
             std::uint8_t data[8] = {0x03};
             int transferred = 0;
             return handle.interruptTransfer(kEndpointOut, data, 8, &transferred, 1000);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        box().reset();
        std::unique_ptr<usb::DeviceHandle> handle;
        ASSERT_EQ(backend().open(1, 2, &handle), usb::kSuccess);
        ASSERT_EQ(handle->claimInterface(kHidInterface), usb::kSuccess);
        box().unplugAfterNextSubmit();
        EXPECT_EQ(c.transfer(*handle), usb::kErrorNoDevice);
    }
}

// Puts every thread of the process (umockdev's worker among them) and those
// started later on the CPU the caller runs on, so that they take turns on it
// and interleave at every wake-up; gives the threads their CPUs back after.
class OneCpu {
public:
    OneCpu()
    {
        if (sched_getaffinity(0, sizeof saved_, &saved_) != 0)
            return;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(sched_getcpu(), &one);
        setAll(one);
        pinned_ = true;
    }
    ~OneCpu()
    {
        if (pinned_)
            setAll(saved_);
    }

private:
    static void setAll(const cpu_set_t& set)
    {
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
            sched_setaffinity(std::stoi(task.path().filename().string()), sizeof set, &set);
    }

    cpu_set_t saved_;
    bool pinned_ = false;
};

// Reports already waiting in the box end each URB as it is submitted, and a
// second thread handles events, as the layer above does while it writes:
// the completion then races the submitting thread, and must still leave the
// transfer out of flight once its callback has run. The window is narrow, so
// the race is run a few thousand times.
TEST_F(LibusbBackendTest, ACompletionOnAnotherThreadNeverLeavesTheTransferInFlight)
{
    ASSERT_NO_FATAL_FAILURE(openAndClaim());
    std::atomic<int> completed{0};
    transfer_ = handle_->makeInterruptInTransfer(
        kEndpointIn, 8, 0, [&](usb::TransferStatus, const std::uint8_t*, int) { ++completed; });
    usb::InterruptInTransfer* const transfer = transfer_.get();
    ASSERT_NE(transfer, nullptr);
    OneCpu one_cpu;
    std::jthread events([](std::stop_token stop) {
        while (!stop.stop_requested())
            backend().handleEvents(10);
    });
    constexpr int kRounds = 4000;
    for (int round = 0; round < kRounds; ++round) {
        box().sendInterruptIn({0x03, static_cast<std::uint8_t>(round)});
        ASSERT_EQ(transfer->submit(), usb::kSuccess);
        ASSERT_TRUE(olva_test::eventually([&] { return !transfer->inFlight(); }))
            << "round " << round << ": in flight after " << completed.load() << " completions";
    }
    EXPECT_EQ(completed.load(), kRounds);
}

}  // namespace
