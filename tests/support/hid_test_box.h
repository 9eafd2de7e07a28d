// A HidDevice for the transport tests: it records what reaches its handlers
// and closes itself on a plug-out as the box object does. Its records are
// opened, and its state reached, through HidDeviceAccess.
#pragma once

#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "support/eventually.h"
#include "support/hid_device_access.h"
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
