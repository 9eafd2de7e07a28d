// The forwarders of the GSM calls, the module's controls and the extension
// phone: the handle names the box, and the box's operation runs with line
// 0 (the GSM side acts on line 1 whatever the handle's line).
#include <functional>
#include <initializer_list>
#include <vector>

#include "logger.h"
#include "olva_manager/olva_manager.h"
#include "olva_manager/with_box.h"

namespace {

using Box = OlvaManager::CUsbBoxDevice;

constexpr unsigned long kBoxLine = 0;

// The box's operation on the products that offer it, -1 on the others. The
// products are copied: an initializer list's array ends with the call.
template <class Call>
std::function<int(Box&, unsigned long)> only_on(std::initializer_list<int> products, Call call)
{
    return [products = std::vector<int>(products), call](Box& box, unsigned long) {
        for (const int product : products)
            if (product == box.model())
                return call(box);
        logger(2, "olva ", "", "not offered by product %d", box.model());
        return static_cast<int>(OLVA_ERR_FAILED);
    };
}

template <class Call>
std::function<int(Box&, unsigned long)> on_gsm_box(Call call)
{
    return only_on({OLVA_PRODUCT_TZ2701A}, call);
}

// The boxes that route audio and ring an extension phone.
template <class Call>
std::function<int(Box&, unsigned long)> on_routing_box(Call call)
{
    return only_on({OLVA_PRODUCT_TZ2701A, OLVA_PRODUCT_TZ2501B}, call);
}

}  // namespace

int OlvaManager::olva_makecall(unsigned long handle, const char* number)
{
    return with_box(handle, on_gsm_box([number](Box& box) {
                           return box.olva_makecall(kBoxLine, number);
                       }));
}

int OlvaManager::olva_reject_call(unsigned long handle)
{
    return with_box(handle,
                       on_gsm_box([](Box& box) { return box.olva_reject_call(kBoxLine); }));
}

int OlvaManager::olva_set_talk_link(unsigned long handle, int type, int on)
{
    return with_box(handle, on_routing_box([type, on](Box& box) {
                           return box.olva_set_talk_link(kBoxLine, type, on);
                       }));
}

int OlvaManager::olva_set_record_switch(unsigned long handle, int type, int on)
{
    return with_box(handle, on_routing_box([type, on](Box& box) {
                           return box.olva_set_record_switch(kBoxLine, type, on);
                       }));
}

int OlvaManager::olva_makecallSlic(unsigned long handle, int a, int b, const char* number)
{
    return with_box(handle, on_routing_box([a, b, number](Box& box) {
                           return box.olva_makecallSlic(kBoxLine, a, b, number);
                       }));
}

int OlvaManager::olva_gsm_power(unsigned long handle, unsigned on)
{
    return with_box(handle, on_gsm_box([on](Box& box) {
                           return box.olva_gsm_power(kBoxLine, static_cast<int>(on));
                       }));
}

int OlvaManager::olva_gsm_bootkey(unsigned long handle, unsigned on)
{
    return with_box(handle, on_gsm_box([on](Box& box) {
                           return box.olva_gsm_bootkey(kBoxLine, static_cast<int>(on));
                       }));
}

int OlvaManager::olva_select_simcard(unsigned long handle, unsigned sim)
{
    return with_box(handle, on_gsm_box([sim](Box& box) {
                           return box.olva_select_simcard(kBoxLine, static_cast<int>(sim));
                       }));
}

int OlvaManager::olva_fast_select_simcard(unsigned long handle, unsigned sim)
{
    return with_box(handle, on_gsm_box([sim](Box& box) {
                           return box.olva_fast_select_simcard(kBoxLine, static_cast<int>(sim));
                       }));
}

int OlvaManager::olva_feed_slic_polarity(unsigned long handle, int polarity)
{
    return with_box(handle, on_gsm_box([polarity](Box& box) {
                           return box.olva_feed_slic_polarity(kBoxLine, polarity);
                       }));
}

int OlvaManager::olva_set_gsm_work_mode(unsigned long handle, int index, int value)
{
    return with_box(handle, on_gsm_box([index, value](Box& box) {
                           return box.olva_set_gsm_work_mode(kBoxLine, index, value);
                       }));
}
