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

int olva_send_gsm_msg(unsigned long, int, char*, char*, int)
{
    return not_offered("olva_send_gsm_msg");
}

int olva_query_gsm_msg_number(unsigned long)
{
    return not_offered("olva_query_gsm_msg_number");
}

int olva_query_gsm_msg(unsigned long, int)
{
    return not_offered("olva_query_gsm_msg");
}

int olva_query_gsm_msgEx(unsigned long, int)
{
    return not_offered("olva_query_gsm_msgEx");
}

int olva_delete_gsm_msg(unsigned long, int, int)
{
    return not_offered("olva_delete_gsm_msg");
}

