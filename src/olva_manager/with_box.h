// How a forwarder reaches the box of a line handle; shared by the files of
// forwarders.
#pragma once

#include <algorithm>
#include <exception>
#include <span>

#include "base/logger.h"
#include "olva_manager/olva_manager.h"

inline constexpr unsigned long kNoHandle = static_cast<unsigned long>(-1);
inline constexpr unsigned long kLineMask = 0xFF;

// The products that carry a GSM module, and those that route audio and
// ring an extension phone.
inline constexpr int kGsmProducts[] = {OLVA_PRODUCT_TZ2701A};
inline constexpr int kRoutingProducts[] = {OLVA_PRODUCT_TZ2701A, OLVA_PRODUCT_TZ2501B};

template <class Operation>
int OlvaManager::with_box(unsigned long handle, Operation operation)
{
    if (handle == kNoHandle)
        return OLVA_ERR_INVALID_HANDLE;
    CUsbBoxDevice* box = box_of(handle);
    if (!box)
        return OLVA_ERR_NO_DEVICE;
    try {
        return operation(*box, handle & kLineMask);
    } catch (const std::exception& error) {
        logger(1, "olva ", "", "handle 0x%lx: %s", handle, error.what());
        return OLVA_ERR_EXCEPTION;
    } catch (...) {
        return OLVA_ERR_EXCEPTION;
    }
}

template <class Operation>
int OlvaManager::with_offering_box(unsigned long handle, std::span<const int> products,
                                   Operation operation)
{
    const int product = olva_get_product_name(handle);
    if (std::find(products.begin(), products.end(), product) == products.end()) {
        logger(2, "olva ", "", "handle 0x%lx: not offered by product %d", handle, product);
        return OLVA_ERR_FAILED;
    }
    return with_box(handle, operation);
}
