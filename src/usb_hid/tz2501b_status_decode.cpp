#include "usb_hid/tz2501b_status_decode.h"

namespace {

constexpr ENUM_OLVA_STATE kLineReadings[4] = {
    OLVA_STATE_RINGING,
    OLVA_STATE_REVERSE_OFF_HOOK,
    OLVA_STATE_IDLE,
    OLVA_STATE_POSITIVE_OFF_HOOK,
};
constexpr std::uint8_t kLineMask = 0x03;
constexpr std::uint8_t kExtensionOnHook = 0x04;

}  // namespace

Tz2501bStatus decode_tz2501b_status(std::uint8_t bits)
{
    return {
        .line = kLineReadings[bits & kLineMask],
        .extension_off_hook = (bits & kExtensionOnHook) == 0,
    };
}
