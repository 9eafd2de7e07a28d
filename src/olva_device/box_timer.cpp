// The box's 100 ms line step, fanned out to the lines that keep time (the
// Tz2701A's 20 ms GSM pump step is in gsm_session.cpp).
#include "olva_device/olva_device.h"

namespace {

// The lines' step, whatever the caller's period.
constexpr unsigned long kLineStepMs = 100;

}  // namespace

void OlvaDevice::handle_timer(unsigned long)
{
    switch (model()) {
    case OLVA_PRODUCT_TZ2502A:
    case OLVA_PRODUCT_TZ2402B:
        line1_.handle_timer(kLineStepMs);
        line2_.handle_timer(kLineStepMs);
        break;
    case OLVA_PRODUCT_TZ2701A:
        // The Tz2701A keeps its own line timer.
        break;
    default:
        // The Tz2501B's second line carries its extension phone: no timer.
        line1_.handle_timer(kLineStepMs);
        break;
    }
}
