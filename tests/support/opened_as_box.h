// A box object over a simulated box opened as any model and firmware,
// without identification, sound card or open lines: for the models that the
// library's own open does not identify (the Tz2402 family, the Tz2501A).
// Its events go nowhere.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "olva_device/olva_device.h"

namespace olva_test {

class OpenedAsBox final : public OlvaDevice {
public:
    ~OpenedAsBox() override { shutdown(); }
    void fire_event(unsigned long, int, unsigned long, unsigned long, unsigned long,
                    unsigned long) override
    {
    }
    bool openAs(const std::string& box_path, OLVA_PRODUCT model, std::uint8_t version2 = 0)
    {
        hidClose();
        // As a new open does.
        clear_user_number();
        hid_device_* dev = hid_open_path(box_path.c_str());
        if (!dev)
            return false;
        model_.store(model);
        version2_.store(version2);
        {
            std::lock_guard<std::mutex> lock(use_mutex_);
            dev_ = dev;
        }
        // The Tz2401 family answers on its interrupt endpoint.
        if (model == OLVA_PRODUCT_TZ2401B || model == OLVA_PRODUCT_TZ2701A) {
            RecordUse use(*this);
            if (start_read_thread(use.get(), true))
                use.get()->started.wait();
        }
        return true;
    }
    // The box's lines opened as its open opens them for its model.
    void openLines() { open_lines(static_cast<OLVA_PRODUCT>(model())); }
    // The line object with id 1 or 2, opened as the box's open opens it (no
    // sound), for calling its hardware operations.
    CBoxLineDevice& lineObject(unsigned long id)
    {
        // The box hands its lines out read-only; the test drives them.
        auto& line = const_cast<CBoxLineDevice&>(this->line(static_cast<int>(id)));
        if (line.line_id() != id)
            line.line_open(id, "", static_cast<OLVA_PRODUCT>(model()), true);
        return line;
    }
};

}  // namespace olva_test
