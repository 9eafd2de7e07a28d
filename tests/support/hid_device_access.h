// The tests' one way into a box's transport state: opening a record as any
// model without identification, the flags its owner sets, the pin shadows
// and the queues, and the record operations under a use of the record.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "usb_hid/hid_device.h"

namespace olva_test {

struct HidDeviceAccess {
    // Opens the record at path as the given model, without identification.
    static bool openAs(HidDevice& box, const std::string& box_path, OLVA_PRODUCT model,
                       std::uint8_t version2 = 0)
    {
        box.hidClose();
        hid_device_* dev = box.hid_open_path(box_path.c_str());
        if (!dev)
            return false;
        box.model_.store(model);
        box.version2_.store(version2);
        {
            std::lock_guard<std::mutex> lock(box.use_mutex_);
            box.dev_ = dev;
        }
        return true;
    }
    // Starts the model's read thread on a record opened with openAs; waits
    // for the Tz2401 family's transfer to run.
    static void startReadThread(HidDevice& box)
    {
        const bool event_loop = box.model() != OLVA_PRODUCT_TZ2501B;
        HidDevice::RecordUse use(box);
        if (use && box.start_read_thread(use.get(), event_loop) && event_loop)
            use.get()->started.wait();
    }

    static void setEventMode(HidDevice& box, bool on) { box.set_nonblocking(on ? 1 : 0); }
    static void setUnplugged(HidDevice& box, bool on) { box.unplugged_.store(on); }
    // What the close does first: the record refuses new uses.
    static void markRecordClosing(HidDevice& box)
    {
        std::lock_guard<std::mutex> lock(box.use_mutex_);
        box.dev_->closing.store(true);
    }
    static void setReplyTimeout(HidDevice& box, int ms) { box.reply_timeout_ms_ = ms; }
    static void setModel(HidDevice& box, OLVA_PRODUCT model) { box.model_.store(model); }
    static void setVersion1(HidDevice& box, std::uint8_t version) { box.version1_.store(version); }

    static std::uint8_t g1(const HidDevice& box) { return box.g1_.load(); }
    static std::uint8_t g2(const HidDevice& box) { return box.g2_.load(); }
    static std::uint8_t g3(const HidDevice& box) { return box.g3_.load(); }
    static void setPins(HidDevice& box, std::uint8_t g1, std::uint8_t g2, std::uint8_t g3)
    {
        box.g1_.store(g1);
        box.g2_.store(g2);
        box.g3_.store(g3);
    }
    static const HidDevice::GsmLevels& gsmLevels() { return HidDevice::kTz2701GsmLevels; }

    struct RecordInfo {
        int input_endpoint;
        int output_endpoint;
        int input_packet_size;
        int interface;
    };
    static std::optional<RecordInfo> recordInfo(const HidDevice& box)
    {
        HidDevice::RecordUse use(box);
        if (!use)
            return std::nullopt;
        const hid_device_* dev = use.get();
        return RecordInfo{dev->input_endpoint, dev->output_endpoint, dev->input_packet_size,
                          dev->interface};
    }

    // hid_read_timeout on the open record (-1 when closed).
    static int readTimeout(HidDevice& box, std::uint8_t* data, unsigned long len, int ms)
    {
        HidDevice::RecordUse use(box);
        return use ? box.hid_read_timeout(use.get(), data, len, ms) : -1;
    }
    // Writes one report (hid_write on the open record).
    static int write(HidDevice& box, const std::vector<std::uint8_t>& report)
    {
        HidDevice::RecordUse use(box);
        return use ? box.hid_write(use.get(), report.data(), report.size()) : -1;
    }

    // Queue entries as the bridge code will push them; only close takes them.
    static void queueCommands(HidDevice& box, int commands, int sms)
    {
        std::lock_guard<std::mutex> lock(box.queue_mutex_);
        for (int i = 0; i < commands; ++i)
            box.cmd_queue_.push_back(std::make_unique<hid_cmd_op>());
        for (int i = 0; i < sms; ++i)
            box.sms_queue_.push_back(std::make_unique<hid_cmd_op>());
    }
    static std::pair<std::size_t, std::size_t> queued(const HidDevice& box)
    {
        std::lock_guard<std::mutex> lock(box.queue_mutex_);
        return {box.cmd_queue_.size(), box.sms_queue_.size()};
    }
};

}  // namespace olva_test
