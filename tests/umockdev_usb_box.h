// A telephone-line box on a umockdev test bed, for testing the real libusb
// backend: sysfs entries for 04d9:2832 on bus 1 address 2 (a HID interface
// with interrupt IN 0x81 and OUT 0x02, then an audio streaming interface with
// two alternate settings) and a usbfs ioctl handler that answers control and
// interrupt URBs, discards, claims and kernel-driver queries as the kernel does.
//
// The box answers an output report as a real one does: its answer is on the
// bus only after the host has reaped the request's own URB, one bus delay
// later, so that it is never reaped inside the request that asked for it.
//
// The handler runs on umockdev's worker thread; every member below is guarded
// by mutex_, and every public call takes it.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <umockdev.h>

namespace olva_test {

class UmockdevUsbBox {
public:
    struct ControlRequest {
        std::array<std::uint8_t, 8> setup{};
        std::vector<std::uint8_t> data;  // the data stage of an OUT request
    };
    struct InterruptOut {
        std::uint8_t endpoint = 0;
        std::vector<std::uint8_t> data;
        std::chrono::steady_clock::time_point time;  // when it was submitted
    };
    // A full-speed interrupt endpoint's frame.
    static constexpr std::chrono::microseconds kBusDelay{1000};

    // The box's firmware: the interrupt IN reports with which it answers an
    // output report (the data of a SET_REPORT, or of an interrupt OUT).
    // Called on umockdev's worker thread with the box's lock held.
    using Responder = std::function<std::vector<std::vector<std::uint8_t>>(
        const std::vector<std::uint8_t>& report)>;

    UmockdevUsbBox() = default;
    ~UmockdevUsbBox();
    UmockdevUsbBox(const UmockdevUsbBox&) = delete;
    UmockdevUsbBox& operator=(const UmockdevUsbBox&) = delete;

    // Builds the test bed. Empty on success, otherwise why it could not.
    // Must run before libusb is initialised: libusb looks for usbfs and
    // enumerates the bus only then.
    std::string start();

    // Plugged in again, nothing recorded, no fault armed, no driver bound;
    // URBs still held are dropped.
    void reset();
    // The kernel driver bound to the HID interface ("" for none).
    void bindDriver(const std::string& name);
    // The bytes an IN control request is answered with (cut to wLength).
    void setControlReply(std::vector<std::uint8_t> reply);
    // Answers output reports from now on (reset() keeps it).
    void setResponder(Responder responder);
    // The next count URBs end with a stall (-EPIPE).
    void stallNext(int count);
    // The box leaves the bus: URBs in flight end with -ESHUTDOWN as the host
    // controller gives them back, and every later request fails with ENODEV.
    void unplug();
    // The next URB is accepted and the box leaves the bus while it is in flight.
    void unplugAfterNextSubmit();
    // The oldest waiting interrupt IN URB ends with status (0 with the
    // report, or a negative errno), and the box leaves the bus at once: the
    // URB is reaped as usual, and its resubmission fails with ENODEV. False
    // when no interrupt IN URB was waiting.
    bool endInterruptInAndUnplug(int status, std::vector<std::uint8_t> report = {});
    // An input report: ends the oldest interrupt IN URB waiting, or waits for
    // the next one to be submitted.
    void sendInterruptIn(std::vector<std::uint8_t> report);

    std::size_t waitingInterruptIn() const;
    // No input report waits for the host, none is on the bus, and the host
    // reaped every URB that ended.
    bool settled() const;
    // How often the host asked for an ended URB and found none: once this
    // grows, every URB reaped before has been through its completion.
    std::uint64_t emptyReaps() const { return locked(empty_reaps_); }
    std::vector<ControlRequest> controlRequests() const { return locked(control_requests_); }
    std::vector<InterruptOut> interruptOuts() const { return locked(interrupt_outs_); }
    std::vector<unsigned int> claimed() const { return locked(claimed_); }
    std::vector<unsigned int> released() const { return locked(released_); }
    std::vector<unsigned int> clearedHalts() const { return locked(cleared_halts_); }
    // ioctl requests the handler does not emulate (answered with ENOTTY).
    std::vector<unsigned long> unexpectedRequests() const { return locked(unexpected_); }

private:
    struct DataUnref {
        void operator()(UMockdevIoctlData* data) const { g_object_unref(data); }
    };
    using Data = std::unique_ptr<UMockdevIoctlData, DataUnref>;
    // A submitted URB: the client's usbdevfs_urb and its buffer, both copied
    // here and written back to the client when it is reaped.
    struct Urb {
        Data urb;
        Data buffer;
        // An output report's answers, sent once the host reaped this URB.
        std::vector<std::vector<std::uint8_t>> answers;
    };
    struct Answer {
        std::chrono::steady_clock::time_point due;
        std::vector<std::uint8_t> report;
        // The host found nothing to reap since the request's URB: the pass
        // of event handling that reaped the request has ended.
        bool pass_ended = false;
    };

    // A copy of a member, taken under mutex_.
    template <typename T>
    T locked(const T& member) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return member;
    }

    static gboolean on_ioctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client,
                             gpointer self);
    // The following run on umockdev's worker thread with mutex_ held.
    void handle(UMockdevIoctlClient* client);
    void submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void getDriver(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void driverIoctl(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void recordNumber(UMockdevIoctlClient* client, UMockdevIoctlData* arg,
                      std::vector<unsigned int>* record);
    void answerControl(Urb urb);
    void finish(Urb urb, int status, const std::uint8_t* data, std::size_t length);
    void dropOffBus();  // called with mutex_ held
    // An input report from the box (mutex_ held): ends the oldest waiting
    // interrupt IN URB, or waits for the next.
    void queueInterruptIn(std::vector<std::uint8_t> report);
    // The firmware's answers to an output report (mutex_ held).
    std::vector<std::vector<std::uint8_t>> respond(const std::vector<std::uint8_t>& report);
    // Answers whose bus delay has passed end waiting interrupt IN URBs.
    void releaseAnswers();  // mutex_ held

    UMockdevTestbed* testbed_ = nullptr;
    UMockdevIoctlBase* handler_ = nullptr;

    mutable std::mutex mutex_;
    bool unplugged_ = false;
    bool unplug_after_submit_ = false;
    int stalls_armed_ = 0;
    std::string driver_;
    std::vector<std::uint8_t> control_reply_;
    Responder responder_;
    std::deque<std::vector<std::uint8_t>> reports_;  // input reports not yet read
    std::deque<Answer> on_the_bus_;                  // answers, in the order sent
    std::uint64_t empty_reaps_ = 0;
    std::deque<Urb> waiting_in_;                     // interrupt IN URBs with no report yet
    std::deque<Urb> reapable_;                       // ended, for the next REAPURB
    std::vector<ControlRequest> control_requests_;
    std::vector<InterruptOut> interrupt_outs_;
    std::vector<unsigned int> claimed_;
    std::vector<unsigned int> released_;
    std::vector<unsigned int> cleared_halts_;
    std::vector<unsigned long> unexpected_;
};

}  // namespace olva_test
