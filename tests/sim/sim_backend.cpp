#include "sim/sim_backend.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "base/platform/clock.h"
#include "sim/sim_handle.h"

namespace olva_sim {

namespace {

constexpr std::uint8_t kBus = 1;
// Interrupt reports a box keeps while no transfer takes them; the oldest
// goes first.
constexpr std::size_t kInputLimit = 64;

}  // namespace

// --- SimBox ---

void SimBox::emit(std::vector<std::uint8_t> report)
{
    if (backend_)
        backend_->emitLocked(id_, std::move(report));
    else
        sent_.push_back(std::move(report));
}

std::unique_lock<std::mutex> SimBox::lock() const
{
    return std::unique_lock<std::mutex>(backend_ ? backend_->mutex_ : own_mutex_);
}

std::vector<std::vector<std::uint8_t>> SimBox::answer(const std::vector<std::uint8_t>& report)
{
    auto held = lock();
    onOutputReport(report);
    return std::exchange(sent_, {});
}

std::vector<std::vector<std::uint8_t>> SimBox::takeSent()
{
    auto held = lock();
    return std::exchange(sent_, {});
}

// --- SimBackend ---

SimBackend::SimBackend()
{
    usb::setBackend(this);
}

SimBackend::~SimBackend()
{
    usb::setBackend(nullptr);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!transfers_.empty()) {
        std::fprintf(stderr, "SimBackend destroyed while %zu interrupt transfers live\n",
                     transfers_.size());
        std::abort();
    }
}

void SimBackend::adopt(std::unique_ptr<SimBox> box)
{
    std::lock_guard<std::mutex> lock(mutex_);
    box->backend_ = this;
    box->id_ = static_cast<int>(slots_.size());
    Slot slot;
    slot.box = std::move(box);
    slot.address = freeAddressLocked();
    slots_.push_back(std::move(slot));
}

std::uint8_t SimBackend::freeAddressLocked()
{
    // Addresses 2..127 in turn, skipping those of boxes on the bus.
    for (;;) {
        const std::uint8_t address = next_address_;
        next_address_ = next_address_ >= 127 ? 2 : static_cast<std::uint8_t>(next_address_ + 1);
        const bool taken = std::any_of(slots_.begin(), slots_.end(), [&](const Slot& slot) {
            return slot.plugged && slot.address == address;
        });
        if (!taken)
            return address;
    }
}

SimBackend::Slot& SimBackend::slot(const SimBox& box)
{
    return slots_.at(static_cast<std::size_t>(box.id()));
}

const SimBackend::Slot& SimBackend::slot(const SimBox& box) const
{
    return slots_.at(static_cast<std::size_t>(box.id()));
}

bool SimBackend::alive(int box, unsigned generation) const
{
    const Slot& slot = slots_[static_cast<std::size_t>(box)];
    return slot.plugged && slot.generation == generation;
}

std::string SimBackend::path(const SimBox& box) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    char text[32];
    std::snprintf(text, sizeof text, "%04x:%04x:%02x", kBus, slot(box).address,
                  box.layout().hid_interface);
    return text;
}

void SimBackend::unplugLocked(int box)
{
    Slot& slot = slots_[static_cast<std::size_t>(box)];
    if (!slot.plugged)
        return;
    slot.plugged = false;
    ++slot.generation;
    slot.claimed = false;
    slot.input.clear();
    auto of_box = [box](const Answer& answer) { return answer.box == box; };
    answered_.erase(std::remove_if(answered_.begin(), answered_.end(), of_box), answered_.end());
    on_the_bus_.erase(std::remove_if(on_the_bus_.begin(), on_the_bus_.end(), of_box),
                      on_the_bus_.end());
    for (SimTransfer* transfer : transfers_)
        if (transfer->box_ == box && transfer->state_ == SimTransfer::State::kSubmitted)
            makeDue(transfer, usb::TransferStatus::kNoDevice, {});
    changed_.notify_all();
}

void SimBackend::unplug(const SimBox& box)
{
    std::lock_guard<std::mutex> lock(mutex_);
    unplugLocked(box.id());
}

void SimBackend::unplugAfter(const SimBox& box, int transfers)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (transfers <= 0)
        unplugLocked(box.id());
    else
        slot(box).unplug_after = transfers;
}

void SimBackend::replug(const SimBox& box)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Slot& s = slot(box);
    if (s.plugged)
        return;
    s.address = freeAddressLocked();
    s.plugged = true;
    ++s.generation;
    s.unplug_after = -1;
}

void SimBackend::unplugOnCancel(const SimBox& box)
{
    std::lock_guard<std::mutex> lock(mutex_);
    slot(box).unplug_on_cancel = true;
}

void SimBackend::unplugAtCompletion(const SimBox& box, usb::TransferStatus status,
                                    std::vector<std::uint8_t> data)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Slot& s = slot(box);
    s.unplug_at_completion = true;
    s.last_status = status;
    s.last_data = std::move(data);
    for (SimTransfer* transfer : transfers_) {
        if (transfer->box_ == box.id() && transfer->state_ == SimTransfer::State::kSubmitted &&
            alive(box.id(), transfer->generation_)) {
            completeAndUnplugLocked(transfer);
            return;
        }
    }
}

void SimBackend::completeAndUnplugLocked(SimTransfer* transfer)
{
    Slot& s = slots_[static_cast<std::size_t>(transfer->box_)];
    s.unplug_at_completion = false;
    std::vector<std::uint8_t> data = std::move(s.last_data);
    if (static_cast<int>(data.size()) > transfer->length_)
        data.resize(static_cast<std::size_t>(transfer->length_));
    // Due before the box goes, so that the unplug leaves it as it is.
    makeDue(transfer, s.last_status, std::move(data));
    unplugLocked(transfer->box_);
}

void SimBackend::failTransfers(const SimBox& box, unsigned kinds, int skip, int count, int error)
{
    if (count <= 0)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    slot(box).faults.push_back({kinds, skip, count, error});
}

bool SimBackend::faultPending(const SimBox& box) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return !slot(box).faults.empty();
}

void SimBackend::failInterrupt(const SimBox& box, int count, usb::TransferStatus status)
{
    std::lock_guard<std::mutex> lock(mutex_);
    slot(box).interrupt_faults = count;
    slot(box).interrupt_fault_status = status;
}

void SimBackend::failClaim(const SimBox& box, int error)
{
    std::lock_guard<std::mutex> lock(mutex_);
    slot(box).claim_error = error;
}

void SimBackend::failOpen(const SimBox& box, int error)
{
    std::lock_guard<std::mutex> lock(mutex_);
    slot(box).open_error = error;
}

void SimBackend::failHandleEvents(int count, int error)
{
    std::lock_guard<std::mutex> lock(mutex_);
    handle_event_faults_ = count;
    handle_event_error_ = error;
}

void SimBackend::setKernelDriver(const SimBox& box, bool attached, int detach_error)
{
    std::lock_guard<std::mutex> lock(mutex_);
    slot(box).kernel_driver = attached;
    slot(box).detach_error = detach_error;
}

bool SimBackend::kernelDriverAttached(const SimBox& box) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return slot(box).kernel_driver;
}

bool SimBackend::claimed(const SimBox& box) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return slot(box).claimed;
}

std::vector<std::uint8_t> SimBackend::clearedHalts(const SimBox& box) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return slot(box).cleared_halts;
}

void SimBackend::pushInput(const SimBox& box, std::vector<std::uint8_t> report)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (slot(box).plugged)
        queueInputLocked(box.id(), std::move(report));
}

void SimBackend::setBusDelay(int ms)
{
    std::lock_guard<std::mutex> lock(mutex_);
    bus_delay_ = std::chrono::milliseconds(std::clamp(ms, 0, kMaxBusDelayMs));
}

bool SimBackend::settled(const SimBox& box) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!slot(box).input.empty() || delivering_)
        return false;
    if (std::any_of(on_the_bus_.begin(), on_the_bus_.end(),
                    [&](const Answer& answer) { return answer.box == box.id(); }))
        return false;
    return std::none_of(due_.begin(), due_.end(),
                        [&](const SimTransfer* transfer) { return transfer->box_ == box.id(); });
}

int SimBackend::transferCount(const SimBox& box) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return slot(box).transfers;
}

std::vector<TraceEntry> SimBackend::trace() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return trace_;
}

std::vector<TraceEntry> SimBackend::trace(const SimBox& box) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<TraceEntry> result;
    for (const TraceEntry& entry : trace_)
        if (entry.box == box.id())
            result.push_back(entry);
    return result;
}

std::vector<std::vector<std::uint8_t>> SimBackend::reports(const SimBox& box) const
{
    std::vector<std::vector<std::uint8_t>> result;
    for (const TraceEntry& entry : trace(box))
        result.push_back(entry.report);
    return result;
}

void SimBackend::clearTrace()
{
    std::lock_guard<std::mutex> lock(mutex_);
    trace_.clear();
}

std::vector<std::string> SimBackend::violations() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return violations_;
}

void SimBackend::violation(std::string what)
{
    violations_.push_back(std::move(what));
}

void SimBackend::failListDevices(int count, int error)
{
    std::lock_guard<std::mutex> lock(mutex_);
    list_faults_ = count;
    list_error_ = error;
}

int SimBackend::listDevices(std::vector<usb::DeviceInfo>* out)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<usb::DeviceInfo>& devices = *out;
    devices.clear();
    if (list_faults_ > 0) {
        --list_faults_;
        return list_error_;
    }
    for (const Slot& slot : slots_) {
        if (!slot.plugged)
            continue;
        const SimBox::UsbLayout& layout = slot.box->layout();
        usb::DeviceInfo info;
        info.bus = kBus;
        info.address = slot.address;
        info.vendor_id = layout.vendor_id;
        info.product_id = layout.product_id;
        for (int i = 0; i < layout.audio_interfaces; ++i)
            info.interfaces.push_back({i, 0, 1, {}});
        usb::InterfaceInfo hid{layout.hid_interface, 0, usb::kClassHid, {}};
        if (layout.in_endpoint)
            hid.endpoints.push_back(
                {layout.in_endpoint, usb::kTransferTypeInterrupt, layout.in_packet_size});
        if (layout.out_endpoint)
            hid.endpoints.push_back(
                {layout.out_endpoint, usb::kTransferTypeInterrupt, layout.in_packet_size});
        info.interfaces.push_back(hid);
        devices.push_back(std::move(info));
    }
    return usb::kSuccess;
}

int SimBackend::open(std::uint8_t bus, std::uint8_t address,
                     std::unique_ptr<usb::DeviceHandle>* handle)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        Slot& slot = slots_[i];
        if (bus != kBus || !slot.plugged || slot.address != address)
            continue;
        if (slot.open_error != 0)
            return std::exchange(slot.open_error, 0);
        *handle = std::make_unique<SimHandle>(*this, static_cast<int>(i), slot.generation);
        return 0;
    }
    return usb::kErrorNoDevice;
}

int SimBackend::handleEvents(int timeout_ms)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (handle_event_faults_ > 0) {
        --handle_event_faults_;
        return handle_event_error_;
    }
    if (delivering_ && deliverer_ == std::this_thread::get_id())
        return usb::kErrorBusy;
    auto ready = [this] { return !due_.empty() && !delivering_; };
    const std::uint64_t wakes = wakes_;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
    for (;;) {
        releaseAnswersLocked();
        if (ready() || wakes_ != wakes || std::chrono::steady_clock::now() >= deadline)
            break;
        // An answer on the bus wakes the pass when it arrives.
        auto until = deadline;
        for (const Answer& answer : on_the_bus_)
            until = std::min(until, answer.due);
        const std::uint64_t sent = answers_sent_;
        changed_.wait_until(lock, until,
                            [&] { return ready() || wakes_ != wakes || answers_sent_ != sent; });
    }
    if (ready())
        deliverDue(lock);
    return 0;
}

int SimBackend::beginTransfer(int box, unsigned kind)
{
    Slot& slot = slots_[static_cast<std::size_t>(box)];
    for (auto fault = slot.faults.begin(); fault != slot.faults.end(); ++fault) {
        if (!(fault->kinds & kind))
            continue;
        if (fault->skip > 0) {
            --fault->skip;
            return 0;
        }
        const int error = fault->error;
        if (--fault->count <= 0)
            slot.faults.erase(fault);
        return error;
    }
    return 0;
}

void SimBackend::endTransfer(std::unique_lock<std::mutex>& lock, int box, bool in)
{
    Slot& slot = slots_[static_cast<std::size_t>(box)];
    ++slot.transfers;
    // The transfer has ended: the box's answers to it take the bus now.
    const auto due = std::chrono::steady_clock::now() + bus_delay_;
    for (Answer& answer : answered_) {
        answer.due = due;
        on_the_bus_.push_back(std::move(answer));
    }
    if (!answered_.empty()) {
        ++answers_sent_;
        changed_.notify_all();
    }
    answered_.clear();
    if (slot.unplug_after > 0 && --slot.unplug_after == 0) {
        slot.unplug_after = -1;
        unplugLocked(box);
    }
    releaseAnswersLocked();
    // An IN transfer runs event handling until it has its data, as libusb's
    // synchronous transfers do; an OUT transfer's answer is never reaped
    // inside it.
    if (in)
        deliverDue(lock);
    // A transfer takes the bus for a while: other threads get their turn
    // before this one goes on.
    lock.unlock();
    std::this_thread::yield();
    lock.lock();
}

int SimBackend::setReport(int box, unsigned generation, std::uint16_t value, std::uint16_t index,
                          const std::uint8_t* data, int length, std::unique_lock<std::mutex>& lock)
{
    if (!alive(box, generation))
        return usb::kErrorNoDevice;
    Slot& slot = slots_[static_cast<std::size_t>(box)];
    if ((value >> 8) != 2 || index != slot.box->layout().hid_interface) {
        violation("SET_REPORT with a wrong report type or interface");
        return usb::kErrorPipe;
    }
    TraceEntry entry;
    entry.kind = TraceEntry::Kind::kSetReport;
    entry.value = value;
    entry.index = index;
    if ((value & 0xFF) == 0)
        entry.report.push_back(0);
    entry.report.insert(entry.report.end(), data, data + length);
    const int fault = outputReport(box, std::move(entry), length, lock);
    return fault ? fault : length;
}

int SimBackend::outputReport(int box, TraceEntry entry, int wire_length,
                             std::unique_lock<std::mutex>& lock)
{
    const int fault = beginTransfer(box, kOutputTransfers);
    if (fault == 0) {
        entry.time_ms = platform::clock().steadyMs();
        entry.thread = std::this_thread::get_id();
        entry.sent = std::chrono::steady_clock::now();
        entry.box = box;
        entry.wire_length = static_cast<std::size_t>(wire_length);
        trace_.push_back(entry);
        answering_ = true;
        slots_[static_cast<std::size_t>(box)].box->onOutputReport(entry.report);
        answering_ = false;
    }
    endTransfer(lock, box, false);
    return fault;
}

int SimBackend::getReport(int box, unsigned generation, std::uint16_t value, std::uint16_t index,
                          std::uint8_t* data, int length, std::unique_lock<std::mutex>& lock)
{
    if (!alive(box, generation))
        return usb::kErrorNoDevice;
    Slot& slot = slots_[static_cast<std::size_t>(box)];
    if ((value >> 8) != 1 || index != slot.box->layout().hid_interface) {
        violation("GET_REPORT with a wrong report type or interface");
        return usb::kErrorPipe;
    }
    int result = beginTransfer(box, kGetReports);
    if (result == 0)
        result = slot.box->onGetReport(static_cast<std::uint8_t>(value & 0xFF), data, length);
    endTransfer(lock, box, true);
    return result;
}

int SimBackend::interruptOut(int box, unsigned generation, std::uint8_t endpoint,
                             std::uint8_t* data, int length, int* transferred,
                             std::unique_lock<std::mutex>& lock)
{
    if (!alive(box, generation))
        return usb::kErrorNoDevice;
    Slot& slot = slots_[static_cast<std::size_t>(box)];
    if (endpoint == 0 || endpoint != slot.box->layout().out_endpoint) {
        violation("interrupt OUT transfer to an endpoint the box does not have");
        return usb::kErrorNotFound;
    }
    TraceEntry entry;
    entry.kind = TraceEntry::Kind::kInterruptOut;
    entry.report.assign(data, data + length);
    const int fault = outputReport(box, std::move(entry), length, lock);
    if (fault == 0)
        *transferred = length;
    return fault;
}

void SimBackend::emitLocked(int box, std::vector<std::uint8_t> report)
{
    if (answering_)
        answered_.push_back({box, {}, std::move(report)});
    else
        queueInputLocked(box, std::move(report));
}

void SimBackend::releaseAnswersLocked()
{
    const auto now = std::chrono::steady_clock::now();
    // In the order they were sent: a later delay may have passed sooner.
    while (!on_the_bus_.empty() && on_the_bus_.front().due <= now) {
        Answer answer = std::move(on_the_bus_.front());
        on_the_bus_.pop_front();
        queueInputLocked(answer.box, std::move(answer.report));
    }
}

void SimBackend::queueInputLocked(int box, std::vector<std::uint8_t> report)
{
    for (SimTransfer* transfer : transfers_) {
        if (transfer->box_ == box && transfer->state_ == SimTransfer::State::kSubmitted &&
            alive(box, transfer->generation_)) {
            if (static_cast<int>(report.size()) > transfer->length_)
                report.resize(static_cast<std::size_t>(transfer->length_));
            makeDue(transfer, usb::TransferStatus::kCompleted, std::move(report));
            return;
        }
    }
    Slot& slot = slots_[static_cast<std::size_t>(box)];
    slot.input.push_back(std::move(report));
    if (slot.input.size() > kInputLimit)
        slot.input.pop_front();
}

void SimBackend::matchLocked(SimTransfer* transfer)
{
    Slot& slot = slots_[static_cast<std::size_t>(transfer->box_)];
    if (!alive(transfer->box_, transfer->generation_)) {
        makeDue(transfer, usb::TransferStatus::kNoDevice, {});
    } else if (slot.unplug_at_completion) {
        completeAndUnplugLocked(transfer);
    } else if (slot.interrupt_faults > 0) {
        --slot.interrupt_faults;
        makeDue(transfer, slot.interrupt_fault_status, {});
    } else if (!slot.input.empty()) {
        std::vector<std::uint8_t> report = std::move(slot.input.front());
        slot.input.pop_front();
        if (static_cast<int>(report.size()) > transfer->length_)
            report.resize(static_cast<std::size_t>(transfer->length_));
        makeDue(transfer, usb::TransferStatus::kCompleted, std::move(report));
    }
}

void SimBackend::makeDue(SimTransfer* transfer, usb::TransferStatus status,
                         std::vector<std::uint8_t> data)
{
    transfer->state_ = SimTransfer::State::kDue;
    transfer->status_ = status;
    transfer->data_ = std::move(data);
    due_.push_back(transfer);
    changed_.notify_all();
}

void SimBackend::deliverDue(std::unique_lock<std::mutex>& lock)
{
    if (delivering_)
        return;
    delivering_ = true;
    deliverer_ = std::this_thread::get_id();
    while (!due_.empty()) {
        SimTransfer* transfer = due_.front();
        due_.pop_front();
        transfer->state_ = SimTransfer::State::kRunning;
        const usb::TransferStatus status = transfer->status_;
        const std::vector<std::uint8_t> data = std::move(transfer->data_);
        lock.unlock();
        transfer->callback_(status, data.data(), static_cast<int>(data.size()));
        lock.lock();
        // A transfer destroyed inside its own completion has left the list.
        if (std::find(transfers_.begin(), transfers_.end(), transfer) == transfers_.end())
            continue;
        if (transfer->resubmit_) {
            transfer->resubmit_ = false;
            if (transfer->cancel_after_) {
                transfer->cancel_after_ = false;
                makeDue(transfer, usb::TransferStatus::kCancelled, {});
            } else {
                transfer->state_ = SimTransfer::State::kSubmitted;
                matchLocked(transfer);
            }
        } else {
            transfer->state_ = SimTransfer::State::kIdle;
            transfer->in_flight_.store(false);
        }
    }
    delivering_ = false;
    deliverer_ = std::thread::id{};
    changed_.notify_all();
}

}  // namespace olva_sim
