// The tests' one way into a box object's own state: its lines by id, and
// a box opened as any model and firmware without identification, sound
// card or open lines (for the models that the library's own open does not
// identify: the Tz2402 family, the Tz2501A).
#pragma once

#include <cstdint>
#include <string>

#include "olva_device/olva_device.h"
#include "support/hid_device_access.h"

namespace olva_test {

struct OlvaDeviceAccess {
    using Line = OlvaDevice::CBoxLineDevice;

    static bool openAs(OlvaDevice& box, const std::string& box_path, OLVA_PRODUCT model,
                       std::uint8_t version2 = 0)
    {
        // As a new open does.
        box.clear_user_number();
        if (!HidDeviceAccess::openAs(box, box_path, model, version2))
            return false;
        // The Tz2401 family answers on its interrupt endpoint.
        if (model == OLVA_PRODUCT_TZ2401B || model == OLVA_PRODUCT_TZ2701A)
            HidDeviceAccess::startReadThread(box);
        return true;
    }
    // The box's lines opened as its open opens them for its model.
    static void openLines(OlvaDevice& box)
    {
        box.open_lines(static_cast<OLVA_PRODUCT>(box.model()));
    }

    // The open line with id 1 or 2, for calling its hardware operations.
    static Line& line(OlvaDevice& box, unsigned long id) { return *box.line_by_id(id); }
    // Line 1 or 2, opened first as the box's open opens it (no sound) when
    // it is not open under that id.
    static Line& openedLine(OlvaDevice& box, unsigned long id)
    {
        Line& line = id == 2 ? box.line2_ : box.line1_;
        if (line.line_id() != id)
            line.line_open(id, "", static_cast<OLVA_PRODUCT>(box.model()), true);
        return line;
    }
};

}  // namespace olva_test
