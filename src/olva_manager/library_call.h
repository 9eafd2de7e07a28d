// How a library function runs a manager call: -7 without a manager, -5
// for an exception, which never leaves the library.
#pragma once

#include <exception>

#include "base/logger.h"
#include "model/olva_types.h"
#include "olva_manager/olva_manager.h"

template <class Call>
int with_manager(Call call)
{
    OlvaManager* manager = g_pOlvaMgr;
    if (!manager)
        return OLVA_ERR_NOT_AVAILABLE;
    try {
        return call(*manager);
    } catch (const std::exception& error) {
        logger(1, "olva ", "", "library call except: %s", error.what());
        return OLVA_ERR_EXCEPTION;
    } catch (...) {
        logger(1, "olva ", "", "library call except");
        return OLVA_ERR_EXCEPTION;
    }
}
