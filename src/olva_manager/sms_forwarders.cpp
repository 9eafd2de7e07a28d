// The manager's SMS forwarders: a Tz2701A's module only.
#include "olva_manager/olva_manager.h"
#include "olva_manager/with_box.h"

int OlvaManager::olva_send_gsm_msg(unsigned long handle, int type, const char* number,
                                   const char* text, int len)
{
    return with_offering_box(handle, &ModelTraits::gsm, [=](CUsbBoxDevice& box, unsigned long line) {
        return box.olva_send_gsm_msg(line, number, type, text, len);
    });
}

int OlvaManager::olva_set_recv_short_msg_type(unsigned long handle, int type)
{
    return with_offering_box(handle, &ModelTraits::gsm, [type](CUsbBoxDevice& box, unsigned long line) {
        return box.olva_set_recv_short_msg_type(line, type);
    });
}
