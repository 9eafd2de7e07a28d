// The library's SMS functions in the web service's stand-in: each records
// its call.
#include <string>

#include "cavrel_olva.h"
#include "support/fake_olva.h"

namespace {

std::string args(std::initializer_list<std::string> values)
{
    std::string out;
    for (const std::string& v : values)
        out += (out.empty() ? "" : ",") + v;
    return out;
}

std::string handle_text(unsigned long h)
{
    return std::to_string(static_cast<long>(h));
}

}  // namespace

int olva_send_gsm_msg(unsigned long h, int type, char* number, char* text, int len)
{
    return olva_fake::record_call(
        "olva_send_gsm_msg", args({handle_text(h), std::to_string(type), number ? number : "(null)",
                                   text ? text : "(null)", std::to_string(len)}));
}

int olva_query_gsm_msg_number(unsigned long h)
{
    return olva_fake::record_call("olva_query_gsm_msg_number", handle_text(h));
}

int olva_query_gsm_msg(unsigned long h, int index)
{
    return olva_fake::record_call("olva_query_gsm_msg", args({handle_text(h), std::to_string(index)}));
}

int olva_query_gsm_msgEx(unsigned long h, int index)
{
    return olva_fake::record_call("olva_query_gsm_msgEx", args({handle_text(h), std::to_string(index)}));
}

int olva_delete_gsm_msg(unsigned long h, int flag, int index)
{
    return olva_fake::record_call("olva_delete_gsm_msg",
                                  args({handle_text(h), std::to_string(flag), std::to_string(index)}));
}
