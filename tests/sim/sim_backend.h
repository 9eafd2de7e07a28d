// A usb::Backend with simulated boxes for the tests. Boxes answer output
// reports and GET_REPORTs as the real firmware does, push interrupt reports,
// can be unplugged at any moment and can fail the next transfers.
//
// As with libusb, completions of interrupt IN transfers run only inside
// handleEvents() or inside a synchronous IN transfer (a GET_REPORT; never
// inside one made by a completion), one at a time. A box's answer to an
// output report leaves the box only once that OUT transfer has ended, and a
// bus delay after it (0 ms unless a test sets one), so that it is never
// reaped inside the request that asked for it. Every output report is
// traced with the time of platform::clock().
//
// The backend checks the seam's contract and counts what breaks it: a
// transfer destroyed while in flight, a transfer outliving its handle, a
// transfer to an interface that is not claimed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "usb_hid/usb_backend.h"

namespace olva_sim {

class SimBackend;
class SimTransfer;

struct TraceEntry {
    enum class Kind { kSetReport, kInterruptOut };
    std::int64_t time_ms = 0;
    int box = -1;
    Kind kind = Kind::kSetReport;
    std::uint16_t value = 0;  // SET_REPORT wValue
    std::uint16_t index = 0;  // SET_REPORT wIndex
    // The report with its id byte first (a report id 0 put back in front).
    std::vector<std::uint8_t> report;
    // The bytes that went over the wire (a report id 0 is not sent).
    std::size_t wire_length = 0;
    // The thread that sent it.
    std::thread::id thread;
    // When it was sent, in real time (the bus runs in real time).
    std::chrono::steady_clock::time_point sent;
};

// Which synchronous transfers a fault hits.
enum TransferKinds : unsigned {
    kOutputTransfers = 1,  // SET_REPORT and interrupt OUT
    kGetReports = 2,
    kAllTransfers = kOutputTransfers | kGetReports,
};

// One simulated box. Its handlers run with the backend's lock held; its
// public accessors take that lock. A box on no backend (the firmware of a
// umockdev test bed) has a lock of its own and is driven by answer().
class SimBox {
public:
    struct UsbLayout {
        std::uint16_t vendor_id = 0;
        std::uint16_t product_id = 0;
        int audio_interfaces = 0;  // interfaces of class 1 before the HID one
        int hid_interface = 0;
        std::uint8_t in_endpoint = 0x81;  // 0: none
        std::uint16_t in_packet_size = 8;
        std::uint8_t out_endpoint = 0;    // 0: none (SET_REPORT)
    };

    explicit SimBox(UsbLayout layout) : layout_(layout) {}
    virtual ~SimBox() = default;
    SimBox(const SimBox&) = delete;
    SimBox& operator=(const SimBox&) = delete;

    const UsbLayout& layout() const { return layout_; }
    int id() const { return id_; }

    // A box on no backend: handles an output report (id byte first) and
    // returns the interrupt reports it sends meanwhile, in order.
    std::vector<std::vector<std::uint8_t>> answer(const std::vector<std::uint8_t>& report);
    // A box on no backend: the interrupt reports it sent of itself (a GSM
    // module's replies that fell due) since the last look.
    std::vector<std::vector<std::uint8_t>> takeSent();

protected:
    friend class SimBackend;
    // An output report, id byte first.
    virtual void onOutputReport(const std::vector<std::uint8_t>& report) = 0;
    // A GET_REPORT: fills data and returns the bytes given or a libusb error.
    virtual int onGetReport(std::uint8_t report_id, std::uint8_t* data, int length) = 0;
    // Queues an interrupt IN report (from a handler, lock held).
    void emit(std::vector<std::uint8_t> report);
    // The backend's lock, for the accessors.
    std::unique_lock<std::mutex> lock() const;

private:
    UsbLayout layout_;
    SimBackend* backend_ = nullptr;
    int id_ = -1;
    // On no backend: the box's own lock, and what it sent.
    mutable std::mutex own_mutex_;
    std::vector<std::vector<std::uint8_t>> sent_;
};

class SimBackend final : public usb::Backend {
public:
    // Installs itself as the process backend; the destructor restores libusb.
    SimBackend();
    ~SimBackend() override;
    SimBackend(const SimBackend&) = delete;
    SimBackend& operator=(const SimBackend&) = delete;

    // Makes a box and plugs it in on bus 1 under the next free address (at
    // most 126 boxes on the bus at once).
    template <class Box, class... Args>
    Box& plug(Args&&... args)
    {
        auto box = std::make_unique<Box>(std::forward<Args>(args)...);
        Box& reference = *box;
        adopt(std::move(box));
        return reference;
    }

    // The box's HID path "%04x:%04x:%02x".
    std::string path(const SimBox& box) const;
    // Gone from the bus: an in-flight transfer ends with no-device, every
    // later call gives kErrorNoDevice.
    void unplug(const SimBox& box);
    // Unplugs the box right after its next `transfers` synchronous transfers.
    void unplugAfter(const SimBox& box, int transfers);
    // Back on the bus under a new address (old handles stay dead).
    void replug(const SimBox& box);
    // The box goes at the moment its interrupt transfer is cancelled, so the
    // transfer ends with no-device instead of cancelled.
    void unplugOnCancel(const SimBox& box);
    // libusb's other way of telling of a box pulled out: its interrupt
    // transfer (the one submitted now, or else the next) completes with
    // status and data, and the box is gone before the completion runs, so
    // that submitting the transfer again fails with no-device.
    void unplugAtCompletion(const SimBox& box, usb::TransferStatus status,
                            std::vector<std::uint8_t> data = {});

    // The next `count` synchronous transfers of the kinds, after `skip` of
    // them went through, end with error.
    void failTransfers(const SimBox& box, unsigned kinds, int skip, int count, int error);
    // True while an injected transfer fault has not been used up.
    bool faultPending(const SimBox& box) const;
    // The next `count` interrupt IN transfers end with status.
    void failInterrupt(const SimBox& box, int count, usb::TransferStatus status);
    // The next claim of the HID interface, or open, fails with error.
    void failClaim(const SimBox& box, int error);
    void failOpen(const SimBox& box, int error);
    // The next `count` calls of handleEvents return error.
    void failHandleEvents(int count, int error);
    // The next `count` reads of the bus fail with error.
    void failListDevices(int count, int error);
    // The kernel's HID driver holds the interface until detached; a detach
    // then fails with detach_error (0: succeeds).
    void setKernelDriver(const SimBox& box, bool attached, int detach_error = 0);
    bool kernelDriverAttached(const SimBox& box) const;
    bool claimed(const SimBox& box) const;
    // The endpoints whose halt the host cleared, in order.
    std::vector<std::uint8_t> clearedHalts(const SimBox& box) const;

    // Queues an interrupt report from the box (as if the box sent it).
    void pushInput(const SimBox& box, std::vector<std::uint8_t> report);
    // The time from the end of an output report's transfer until the box's
    // answer to it is on the bus, in real time: 0 to kMaxBusDelayMs.
    static constexpr int kMaxBusDelayMs = 8;
    void setBusDelay(int ms);
    // True when every report of the box has been handed to the host.
    bool settled(const SimBox& box) const;
    // Synchronous transfers the box has seen.
    int transferCount(const SimBox& box) const;

    std::vector<TraceEntry> trace() const;
    std::vector<TraceEntry> trace(const SimBox& box) const;
    // Only the report bytes of the box's trace.
    std::vector<std::vector<std::uint8_t>> reports(const SimBox& box) const;
    void clearTrace();

    // Breaches of the seam's contract seen so far.
    std::vector<std::string> violations() const;

    // usb::Backend
    int listDevices(std::vector<usb::DeviceInfo>* devices) override;
    int open(std::uint8_t bus, std::uint8_t address,
             std::unique_ptr<usb::DeviceHandle>* handle) override;
    int handleEvents(int timeout_ms) override;

private:
    friend class SimBox;
    friend class SimHandle;
    friend class SimTransfer;

    struct Fault {
        unsigned kinds;
        int skip;
        int count;
        int error;
    };
    struct Slot {
        std::unique_ptr<SimBox> box;
        bool plugged = true;
        std::uint8_t address = 0;
        unsigned generation = 0;  // changes when the box leaves or comes back
        bool kernel_driver = false;
        int detach_error = 0;
        int claim_error = 0;
        int open_error = 0;
        bool claimed = false;
        int transfers = 0;
        int unplug_after = -1;
        bool unplug_on_cancel = false;
        bool unplug_at_completion = false;
        usb::TransferStatus last_status = usb::TransferStatus::kCompleted;
        std::vector<std::uint8_t> last_data;
        int interrupt_faults = 0;
        usb::TransferStatus interrupt_fault_status = usb::TransferStatus::kError;
        std::vector<Fault> faults;
        std::vector<std::uint8_t> cleared_halts;
        std::deque<std::vector<std::uint8_t>> input;  // reports no transfer took yet
    };
    // A box's answer to an output report, on its way to the host.
    struct Answer {
        int box = -1;
        std::chrono::steady_clock::time_point due;
        std::vector<std::uint8_t> report;
    };

    void adopt(std::unique_ptr<SimBox> box);
    std::uint8_t freeAddressLocked();
    Slot& slot(const SimBox& box);
    const Slot& slot(const SimBox& box) const;
    bool alive(int box, unsigned generation) const;
    void unplugLocked(int box);
    // The transfer's last completion, with its box gone meanwhile.
    void completeAndUnplugLocked(SimTransfer* transfer);
    void violation(std::string what);
    // A synchronous transfer: the injected fault, or 0 to go on.
    int beginTransfer(int box, unsigned kind);
    // in: an IN transfer, which reaps the completions that are due.
    void endTransfer(std::unique_lock<std::mutex>& lock, int box, bool in);
    int setReport(int box, unsigned generation, std::uint16_t value, std::uint16_t index,
                  const std::uint8_t* data, int length, std::unique_lock<std::mutex>& lock);
    int getReport(int box, unsigned generation, std::uint16_t value, std::uint16_t index,
                  std::uint8_t* data, int length, std::unique_lock<std::mutex>& lock);
    // Traces an output report and hands it to its box: 0, or the injected fault.
    int outputReport(int box, TraceEntry entry, int wire_length, std::unique_lock<std::mutex>& lock);
    int interruptOut(int box, unsigned generation, std::uint8_t endpoint, std::uint8_t* data,
                     int length, int* transferred, std::unique_lock<std::mutex>& lock);
    void queueInputLocked(int box, std::vector<std::uint8_t> report);
    // From a box's handler: an answer while an output report is handled
    // waits for the end of its transfer, anything else goes out at once.
    void emitLocked(int box, std::vector<std::uint8_t> report);
    // The answers whose bus delay has passed become input reports.
    void releaseAnswersLocked();
    // Gives a submitted transfer of the box its completion when one is due.
    void matchLocked(SimTransfer* transfer);
    void makeDue(SimTransfer* transfer, usb::TransferStatus status,
                 std::vector<std::uint8_t> data);
    // Runs due completions unless another thread does, or this one is
    // inside a completion.
    void deliverDue(std::unique_lock<std::mutex>& lock);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Slot> slots_;
    std::uint8_t next_address_ = 2;
    std::vector<SimTransfer*> transfers_;
    std::deque<SimTransfer*> due_;
    bool delivering_ = false;
    bool answering_ = false;               // a box handles an output report
    std::vector<Answer> answered_;         // its answers, until the transfer ends
    std::deque<Answer> on_the_bus_;        // answers in the order sent
    std::uint64_t answers_sent_ = 0;       // counts transfers whose answers took the bus
    std::chrono::milliseconds bus_delay_{0};
    std::uint64_t wakes_ = 0;  // counts cancels, which end a waiting pass
    std::thread::id deliverer_;
    int handle_event_faults_ = 0;
    int handle_event_error_ = 0;
    int list_faults_ = 0;
    int list_error_ = 0;
    std::vector<TraceEntry> trace_;
    std::vector<std::string> violations_;
};

}  // namespace olva_sim
