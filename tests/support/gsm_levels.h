// The audio levels the GSM tests hand the module's start-up.
#pragma once

#include "gsm/gsm_state.h"

namespace olva_test {

inline constexpr gsm::Levels kGsmLevels = {40, 5, 1, 3, {8000, 8000}, 4, {35000, 35000}};

}  // namespace olva_test
