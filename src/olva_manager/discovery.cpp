// Finding boxes on the USB bus and choosing their slots.
#include <algorithm>
#include <cstdio>

#include "base/logger.h"
#include "model/model_traits.h"
#include "olva_manager/olva_manager.h"
#include "usb_hid/usb_backend.h"

namespace {

constexpr const char* kModule = "olva ";
constexpr int kPathSize = 64;

}  // namespace

// Boxes are matched by vendor and product id alone; the HID open tells a
// Tz2701A from a Tz2401B.
OLVA_PRODUCT discovered_product(unsigned short vendor, unsigned short product)
{
    for (const ModelTraits& row : kModelTraits)
        if (row.usb_vendor_id != 0 && row.usb_vendor_id == vendor && row.usb_product_id == product)
            return row.model;
    return OLVA_PRODUCT_NONE;
}

std::vector<hid_device_info> hid_enumerate(unsigned short vendor, unsigned short product,
                                           int* error)
{
    std::vector<hid_device_info> found;
    std::vector<usb::DeviceInfo> devices;
    const int listed = usb::backend().listDevices(&devices);
    if (error)
        *error = listed;
    for (const usb::DeviceInfo& device : devices) {
        if ((vendor != 0 || product != 0) &&
            (device.vendor_id != vendor || device.product_id != product))
            continue;
        for (const usb::InterfaceInfo& interface : device.interfaces) {
            if (interface.interface_class != usb::kClassHid)
                continue;
            char path[kPathSize];
            std::snprintf(path, sizeof path, "%04x:%04x:%02x", device.bus, device.address,
                          interface.number);
            found.push_back({path, device.vendor_id, device.product_id, interface.number});
        }
    }
    return found;
}

int OlvaManager::search_pass()
{
    int error = 0;
    const std::vector<hid_device_info> nodes = hid_enumerate(0, 0, &error);
    // A bus that could not be read tells nothing of the boxes on it.
    if (error == 0)
        end_boxes_gone(nodes);
    int opened = 0;
    for (const hid_device_info& node : nodes) {
        const OLVA_PRODUCT product = discovered_product(node.vendor_id, node.product_id);
        if (product != OLVA_PRODUCT_NONE)
            opened += handle_found_hid_device(node.path.c_str(), product);
    }
    return opened;
}

void OlvaManager::end_boxes_gone(const std::vector<hid_device_info>& nodes)
{
    for (CUsbBoxDevice* box : {&box1_, &box2_}) {
        if (!box->is_open())
            continue;
        const std::string path = box->path();
        const bool listed = std::any_of(nodes.begin(), nodes.end(),
                                        [&](const hid_device_info& node) { return node.path == path; });
        if (listed)
            continue;
        // Its own threads tell of a box pulled out; this ends one that
        // none of them noticed. The box's end runs once either way.
        logger(1, kModule, box->box_tag().c_str(), "%s   dev path:%s is gone from the bus",
               __func__, path.c_str());
        box->handle_plug_out();
    }
}

bool OlvaManager::device_is_opened(const char* path) const
{
    for (const CUsbBoxDevice* box : {&box1_, &box2_})
        if (box->is_open() && box->path() == path)
            return true;
    return false;
}

int OlvaManager::handle_found_hid_device(const char* path, OLVA_PRODUCT product)
{
    const bool opened = device_is_opened(path);
    CUsbBoxDevice* chosen = &box1_;
    if (box1_.device_index() != -1) {
        if (box2_.device_index() != -1) {
            if (!opened)
                logger(4, kModule, "", "%s   dev path:%s, productid:%d", __func__, path, product);
            return 0;
        }
        chosen = &box2_;
    }
    if (opened)
        return 0;
    logger(4, kModule, "", "%s   dev path:%s, productid:%d", __func__, path, product);
    chosen->olva_open(path, static_cast<unsigned long>(chosen->slot_id()), product);
    return 1;
}
