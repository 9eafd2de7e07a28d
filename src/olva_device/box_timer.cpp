// The box's timer steps, run by the device manager's timer thread.
#include "olva_device/olva_device.h"

void OlvaDevice::handle_timer(unsigned long)
{
    // The step fans out to the lines' timers once they keep time.
}

void OlvaDevice::Tz2701_write_hid_cmd_timer(unsigned long)
{
    // The GSM command pump steps here once the box keeps a command queue.
}
