// The forwarders of the GSM calls, the module's controls and the extension
// phone: the handle names the box, and the box's operation runs with line
// 0 (the GSM side acts on line 1 whatever the handle's line).
#include "olva_manager/olva_manager.h"
#include "olva_manager/with_box.h"

namespace {

using Box = OlvaManager::CUsbBoxDevice;

constexpr unsigned long kBoxLine = 0;

}  // namespace

int OlvaManager::olva_makecall(unsigned long handle, const char* number)
{
    return with_offering_box(handle, &ModelTraits::gsm, [number](Box& box, unsigned long) {
        return box.olva_makecall(kBoxLine, number);
    });
}

int OlvaManager::olva_reject_call(unsigned long handle)
{
    return with_offering_box(handle, &ModelTraits::gsm, [](Box& box, unsigned long) {
        return box.olva_reject_call(kBoxLine);
    });
}

int OlvaManager::olva_set_talk_link(unsigned long handle, int type, int on)
{
    return with_offering_box(handle, &ModelTraits::extension_phone, [type, on](Box& box, unsigned long) {
        return box.olva_set_talk_link(kBoxLine, type, on);
    });
}

int OlvaManager::olva_set_record_switch(unsigned long handle, int type, int on)
{
    return with_offering_box(handle, &ModelTraits::extension_phone, [type, on](Box& box, unsigned long) {
        return box.olva_set_record_switch(kBoxLine, type, on);
    });
}

int OlvaManager::olva_makecallSlic(unsigned long handle, int a, int b, const char* number)
{
    return with_offering_box(handle, &ModelTraits::extension_phone, [a, b, number](Box& box, unsigned long) {
        return box.olva_makecallSlic(kBoxLine, a, b, number);
    });
}

int OlvaManager::olva_gsm_power(unsigned long handle, unsigned on)
{
    return with_offering_box(handle, &ModelTraits::gsm, [on](Box& box, unsigned long) {
        return box.olva_gsm_power(kBoxLine, static_cast<int>(on));
    });
}

int OlvaManager::olva_gsm_bootkey(unsigned long handle, unsigned on)
{
    return with_offering_box(handle, &ModelTraits::gsm, [on](Box& box, unsigned long) {
        return box.olva_gsm_bootkey(kBoxLine, static_cast<int>(on));
    });
}

int OlvaManager::olva_select_simcard(unsigned long handle, unsigned sim)
{
    return with_offering_box(handle, &ModelTraits::gsm, [sim](Box& box, unsigned long) {
        return box.olva_select_simcard(kBoxLine, static_cast<int>(sim));
    });
}

int OlvaManager::olva_fast_select_simcard(unsigned long handle, unsigned sim)
{
    return with_offering_box(handle, &ModelTraits::gsm, [sim](Box& box, unsigned long) {
        return box.olva_fast_select_simcard(kBoxLine, static_cast<int>(sim));
    });
}

int OlvaManager::olva_feed_slic_polarity(unsigned long handle, int polarity)
{
    return with_offering_box(handle, &ModelTraits::gsm, [polarity](Box& box, unsigned long) {
        return box.olva_feed_slic_polarity(kBoxLine, polarity);
    });
}

int OlvaManager::olva_set_gsm_work_mode(unsigned long handle, int index, int value)
{
    return with_offering_box(handle, &ModelTraits::gsm, [index, value](Box& box, unsigned long) {
        return box.olva_set_gsm_work_mode(kBoxLine, index, value);
    });
}
