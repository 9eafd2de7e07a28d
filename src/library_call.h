// How a library function runs its manager call; shared by the files of the
// library interface.
#pragma once

#include <exception>

#include "cavrel_olva.h"
#include "logger.h"
#include "olva_manager/olva_manager.h"

// Runs a manager call: -7 without a manager, -5 for an exception.
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
