// How a forwarder reaches the box of a line handle; shared by the files of
// forwarders.
#pragma once

#include <exception>

#include "base/logger.h"
#include "model/model_traits.h"
#include "olva_manager/olva_manager.h"

inline constexpr unsigned long kNoHandle = static_cast<unsigned long>(-1);
inline constexpr unsigned long kLineMask = 0xFF;

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
int OlvaManager::with_offering_box(unsigned long handle, bool ModelTraits::*offers,
                                   Operation operation)
{
    const int product = olva_get_product_name(handle);
    if (!(model_traits(product).*offers)) {
        logger(2, "olva ", "", "handle 0x%lx: not offered by product %d", handle, product);
        return OLVA_ERR_FAILED;
    }
    return with_box(handle, operation);
}
