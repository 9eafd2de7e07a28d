// The box's 100 ms line step, fanned out to the lines that keep time; the
// Tz2701A's line 1 has its own (its 20 ms GSM pump step is in
// gsm_session.cpp).
#include "olva_device/olva_device.h"

namespace {

// The lines' step, whatever the caller's period.
constexpr unsigned long kLineStepMs = 100;

}  // namespace

void OlvaDevice::handle_timer(unsigned long)
{
    if (model_traits(model()).clock == LineClock::kOwnTimer) {
        line1_.Tz2701_handle_timer(kLineStepMs);
        return;
    }
    const int timed = model_traits(model()).timed_lines;
    if (timed >= 1)
        line1_.handle_timer(kLineStepMs);
    if (timed >= 2)
        line2_.handle_timer(kLineStepMs);
}
