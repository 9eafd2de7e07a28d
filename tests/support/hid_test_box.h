// A HidDevice for the transport tests: it records what reaches its handlers,
// closes itself on a plug-out as the box object does, and opens a record of
// any model without identification.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "support/eventually.h"
#include "support/temp_dir.h"
#include "usb_hid/hid_device.h"

namespace olva_test {

class HidTestBox : public HidDevice {
public:
    HidTestBox() { set_app_dir(dir_.path()); }
    ~HidTestBox() override { hidClose(); }

    // The box's "olva.ini", in a directory of its own.
    std::string iniPath() const { return dir_.file("olva.ini"); }

    struct Report {
        enum class Kind { kTz2401, kTz2501B, kTz2701A } kind;
        std::vector<std::uint8_t> bytes;
    };

    void handle_hid_read(const std::uint8_t* data, unsigned long len) override
    {
        record({Report::Kind::kTz2401, {data, data + len}});
    }
    void handle_Hid_data_Tz2501B(std::uint8_t bits) override
    {
        record({Report::Kind::kTz2501B, {bits}});
    }
    void handle_Hid_data_Tz2701A(const std::uint8_t* data, unsigned long len) override
    {
        record({Report::Kind::kTz2701A, {data, data + len}});
    }
    void handle_plug_out() override
    {
        hidClose();
        std::lock_guard<std::mutex> lock(mutex_);
        ++plug_outs_;
    }
    void fire_hid_event(int event, int param) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.emplace_back(event, param);
    }

    std::vector<Report> reports() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports_;
    }
    std::size_t reportCount() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports_.size();
    }
    int plugOuts() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return plug_outs_;
    }
    std::vector<std::pair<int, int>> events() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }

    // Opens the record at path as the given model, without identification.
    bool openAs(const std::string& box_path, OLVA_PRODUCT model, std::uint8_t version2 = 0)
    {
        hidClose();
        hid_device_* dev = hid_open_path(box_path.c_str());
        if (!dev)
            return false;
        model_.store(model);
        version2_.store(version2);
        {
            std::lock_guard<std::mutex> lock(use_mutex_);
            dev_ = dev;
        }
        return true;
    }
    // Starts the model's read thread on a record opened with openAs.
    void startReadThread()
    {
        const bool event_loop = model() != OLVA_PRODUCT_TZ2501B;
        RecordUse use(*this);
        if (use && start_read_thread(use.get(), event_loop) && event_loop)
            use.get()->started.wait();
    }
    void setEventMode(bool on) { set_nonblocking(on ? 1 : 0); }
    void setUnplugged(bool on) { unplugged_.store(on); }
    void setReplyTimeout(int ms) { reply_timeout_ms_ = ms; }
    void setModel(OLVA_PRODUCT model) { model_.store(model); }
    void setVersion1(std::uint8_t version) { version1_.store(version); }
    std::uint8_t g1() const { return g1_.load(); }
    std::uint8_t g2() const { return g2_.load(); }
    std::uint8_t g3() const { return g3_.load(); }
    void setPins(std::uint8_t g1, std::uint8_t g2, std::uint8_t g3)
    {
        g1_.store(g1);
        g2_.store(g2);
        g3_.store(g3);
    }
    const GsmLevels& gsmLevels() const { return kTz2701GsmLevels; }

    struct RecordInfo {
        int input_endpoint;
        int output_endpoint;
        int input_packet_size;
        int interface;
    };
    std::optional<RecordInfo> recordInfo() const
    {
        RecordUse use(*this);
        if (!use)
            return std::nullopt;
        const hid_device_* dev = use.get();
        return RecordInfo{dev->input_endpoint, dev->output_endpoint, dev->input_packet_size,
                          dev->interface};
    }

    // hid_read_timeout on the open record (-1 when closed).
    int readTimeout(std::uint8_t* data, unsigned long len, int ms)
    {
        RecordUse use(*this);
        return use ? hid_read_timeout(use.get(), data, len, ms) : -1;
    }
    // Writes one report (hid_write on the open record).
    int write(const std::vector<std::uint8_t>& report)
    {
        RecordUse use(*this);
        return use ? hid_write(use.get(), report.data(), report.size()) : -1;
    }

    // Queue entries as the bridge code will push them; only close takes them.
    void queueCommands(int commands, int sms)
    {
        std::lock_guard<std::mutex> lock(queue_mutex_);
        for (int i = 0; i < commands; ++i)
            cmd_queue_.push_back(std::make_unique<hid_cmd_op>());
        for (int i = 0; i < sms; ++i)
            sms_queue_.push_back(std::make_unique<hid_cmd_op>());
    }
    std::pair<std::size_t, std::size_t> queued()
    {
        std::lock_guard<std::mutex> lock(queue_mutex_);
        return {cmd_queue_.size(), sms_queue_.size()};
    }

private:
    void record(Report report)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reports_.push_back(std::move(report));
    }

    TempDir dir_;
    mutable std::mutex mutex_;
    std::vector<Report> reports_;
    std::vector<std::pair<int, int>> events_;
    int plug_outs_ = 0;
};

}  // namespace olva_test
