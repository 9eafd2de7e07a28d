// Library functions whose engine this build does not have yet. Each answers
// -7, the code for a function that is not offered, and says so in the log,
// so that a caller gets a clear refusal instead of a silent success.
#include "cavrel_olva.h"

#include "logger.h"

namespace {

int not_offered(const char* function)
{
    logger(2, "olva ", "", "%s: not offered by this build", function);
    return OLVA_ERR_NOT_AVAILABLE;
}

}  // namespace

int olva_makecall(unsigned long, char*)
{
    return not_offered("olva_makecall");
}

int olva_reject_call(unsigned long)
{
    return not_offered("olva_reject_call");
}

int olva_set_talk_link(unsigned long, int, int)
{
    return not_offered("olva_set_talk_link");
}

int olva_set_record_enable(unsigned long, int, int)
{
    return not_offered("olva_set_record_enable");
}

int olva_makecallSlic(unsigned long, int, int, char*)
{
    return not_offered("olva_makecallSlic");
}

int olva_gsm_power(unsigned long, unsigned)
{
    return not_offered("olva_gsm_power");
}

int olva_gsm_bootkey(unsigned long, unsigned)
{
    return not_offered("olva_gsm_bootkey");
}

int olva_select_simcard(unsigned long, unsigned)
{
    return not_offered("olva_select_simcard");
}

int olva_feed_slic_polarity(unsigned long, int)
{
    return not_offered("olva_feed_slic_polarity");
}

int olva_set_gsm_work_mode(unsigned long, int, int)
{
    return not_offered("olva_set_gsm_work_mode");
}

int olva_set_gsm_vol(unsigned long, int, unsigned)
{
    return not_offered("olva_set_gsm_vol");
}

int olva_get_gsm_vol(unsigned long, int)
{
    return not_offered("olva_get_gsm_vol");
}

int olva_gsm_generate_tone(unsigned long, int, int, int, int, int)
{
    return not_offered("olva_gsm_generate_tone");
}

int olva_get_gsm_devtype(unsigned long, unsigned char*, int)
{
    return not_offered("olva_get_gsm_devtype");
}
