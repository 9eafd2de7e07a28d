// The simulator's device handle and interrupt transfer (internal to the
// simulator: the backend reaches into their state under its lock).
#pragma once

#include <algorithm>
#include <atomic>
#include <utility>

#include "sim/sim_backend.h"

namespace olva_sim {

namespace handle_detail {

constexpr std::uint8_t kRequestTypeClassOut = 0x21;
constexpr std::uint8_t kRequestTypeClassIn = 0xA1;
constexpr std::uint8_t kSetReport = 9;
constexpr std::uint8_t kGetReport = 1;

}  // namespace handle_detail

class SimTransfer final : public usb::InterruptInTransfer {
public:
    enum class State { kIdle, kSubmitted, kDue, kRunning };

    SimTransfer(SimBackend& sim, const void* handle, int box, unsigned generation,
                std::uint8_t endpoint, int length, Callback callback)
        : sim_(sim), handle_(handle), box_(box), generation_(generation), endpoint_(endpoint),
          length_(length), callback_(std::move(callback))
    {
    }

    ~SimTransfer() override
    {
        std::lock_guard<std::mutex> lock(sim_.mutex_);
        if (in_flight_.load())
            sim_.violation("interrupt transfer destroyed while in flight");
        if (!handle_)
            sim_.violation("interrupt transfer destroyed after its handle");
        sim_.due_.erase(std::remove(sim_.due_.begin(), sim_.due_.end(), this), sim_.due_.end());
        sim_.transfers_.erase(std::remove(sim_.transfers_.begin(), sim_.transfers_.end(), this),
                              sim_.transfers_.end());
    }

    int submit() override
    {
        std::lock_guard<std::mutex> lock(sim_.mutex_);
        if (!handle_ || !sim_.alive(box_, generation_))
            return usb::kErrorNoDevice;
        if (state_ == State::kRunning) {
            resubmit_ = true;
            return 0;
        }
        if (state_ != State::kIdle)
            return usb::kErrorBusy;
        state_ = State::kSubmitted;
        in_flight_.store(true);
        sim_.matchLocked(this);
        return 0;
    }

    int cancel() override
    {
        std::lock_guard<std::mutex> lock(sim_.mutex_);
        // A pass of event handling waiting for nothing returns early.
        ++sim_.wakes_;
        sim_.changed_.notify_all();
        if (sim_.slots_[static_cast<std::size_t>(box_)].unplug_on_cancel)
            sim_.unplugLocked(box_);
        if (state_ == State::kSubmitted) {
            sim_.makeDue(this, usb::TransferStatus::kCancelled, {});
            return 0;
        }
        if (state_ == State::kRunning && resubmit_ && !cancel_after_) {
            cancel_after_ = true;
            return 0;
        }
        return usb::kErrorNotFound;
    }

    bool inFlight() const override { return in_flight_.load(); }

private:
    friend class SimBackend;
    friend class SimHandle;

    SimBackend& sim_;
    const void* handle_;  // null once the handle is gone
    int box_;
    unsigned generation_;
    std::uint8_t endpoint_;
    int length_;
    Callback callback_;
    std::atomic<bool> in_flight_{false};
    State state_ = State::kIdle;
    usb::TransferStatus status_ = usb::TransferStatus::kCompleted;
    std::vector<std::uint8_t> data_;
    bool resubmit_ = false;
    bool cancel_after_ = false;
};

class SimHandle final : public usb::DeviceHandle {
public:
    SimHandle(SimBackend& sim, int box, unsigned generation)
        : sim_(sim), box_(box), generation_(generation)
    {
    }

    ~SimHandle() override
    {
        std::lock_guard<std::mutex> lock(sim_.mutex_);
        for (SimTransfer* transfer : sim_.transfers_) {
            if (transfer->handle_ == this) {
                sim_.violation("device handle closed before its interrupt transfer");
                transfer->handle_ = nullptr;
            }
        }
        if (claimed_)
            sim_.slots_[box_].claimed = false;
    }

    int kernelDriverActive(int interface_number) override
    {
        std::lock_guard<std::mutex> lock(sim_.mutex_);
        if (!sim_.alive(box_, generation_))
            return usb::kErrorNoDevice;
        const SimBackend::Slot& slot = sim_.slots_[box_];
        return interface_number == slot.box->layout().hid_interface && slot.kernel_driver ? 1 : 0;
    }

    int detachKernelDriver(int interface_number) override
    {
        std::lock_guard<std::mutex> lock(sim_.mutex_);
        if (!sim_.alive(box_, generation_))
            return usb::kErrorNoDevice;
        SimBackend::Slot& slot = sim_.slots_[box_];
        if (interface_number != slot.box->layout().hid_interface || !slot.kernel_driver)
            return usb::kErrorNotFound;
        if (slot.detach_error != 0)
            return slot.detach_error;
        slot.kernel_driver = false;
        return 0;
    }

    int claimInterface(int interface_number) override
    {
        std::lock_guard<std::mutex> lock(sim_.mutex_);
        if (!sim_.alive(box_, generation_))
            return usb::kErrorNoDevice;
        SimBackend::Slot& slot = sim_.slots_[box_];
        if (interface_number != slot.box->layout().hid_interface)
            return usb::kErrorNotFound;
        if (slot.claim_error != 0)
            return std::exchange(slot.claim_error, 0);
        if (slot.kernel_driver || slot.claimed)
            return usb::kErrorBusy;
        slot.claimed = claimed_ = true;
        return 0;
    }

    int releaseInterface(int interface_number) override
    {
        std::lock_guard<std::mutex> lock(sim_.mutex_);
        if (!claimed_ || interface_number != sim_.slots_[box_].box->layout().hid_interface)
            return usb::kErrorNotFound;
        claimed_ = false;
        if (!sim_.alive(box_, generation_))
            return usb::kErrorNoDevice;
        sim_.slots_[box_].claimed = false;
        return 0;
    }

    int interruptTransfer(std::uint8_t endpoint, std::uint8_t* data, int length, int* transferred,
                          unsigned int) override
    {
        std::unique_lock<std::mutex> lock(sim_.mutex_);
        return sim_.interruptOut(box_, generation_, endpoint, data, length, transferred, lock);
    }

    int controlTransfer(std::uint8_t request_type, std::uint8_t request, std::uint16_t value,
                        std::uint16_t index, std::uint8_t* data, std::uint16_t length,
                        unsigned int) override
    {
        std::unique_lock<std::mutex> lock(sim_.mutex_);
        if (!claimed_ && sim_.alive(box_, generation_)) {
            sim_.violation("control transfer to an interface that is not claimed");
            return usb::kErrorNotFound;
        }
        using namespace handle_detail;
        if (request_type == kRequestTypeClassOut && request == kSetReport)
            return sim_.setReport(box_, generation_, value, index, data, length, lock);
        if (request_type == kRequestTypeClassIn && request == kGetReport)
            return sim_.getReport(box_, generation_, value, index, data, length, lock);
        sim_.violation("unexpected control request");
        return usb::kErrorNotSupported;
    }

    int clearHalt(std::uint8_t endpoint) override
    {
        std::lock_guard<std::mutex> lock(sim_.mutex_);
        if (!sim_.alive(box_, generation_))
            return usb::kErrorNoDevice;
        sim_.slots_[box_].cleared_halts.push_back(endpoint);
        return 0;
    }

    std::unique_ptr<usb::InterruptInTransfer> makeInterruptInTransfer(
        std::uint8_t endpoint, int length, unsigned int,
        usb::InterruptInTransfer::Callback callback) override
    {
        std::lock_guard<std::mutex> lock(sim_.mutex_);
        if (endpoint != sim_.slots_[box_].box->layout().in_endpoint || length <= 0) {
            sim_.violation("interrupt transfer on a wrong endpoint or of no length");
            return nullptr;
        }
        auto transfer = std::make_unique<SimTransfer>(sim_, this, box_, generation_, endpoint,
                                                      length, std::move(callback));
        sim_.transfers_.push_back(transfer.get());
        return transfer;
    }

private:
    SimBackend& sim_;
    int box_;
    unsigned generation_;
    bool claimed_ = false;
};

}  // namespace olva_sim
