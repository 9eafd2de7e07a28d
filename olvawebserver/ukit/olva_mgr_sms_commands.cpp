// Browser commands for SMS: send a text, count, read and delete the
// module's stored messages. What the module answers comes later as the
// events "short_msg_size", "short_msg" and "shortsms_report".
#include "base/logger.h"
#include "cavrel_olva.h"
#include "ukit/command_args.h"
#include "ukit/olva_mgr.h"

using web::arg_handle;
using web::arg_int;
using web::arg_text;

void COlvaMgr::cmd_msgsize(const Frame& f)
{
    olva_query_gsm_msg_number(arg_handle(f.json));
}

void COlvaMgr::cmd_sendmsg(const Frame& f)
{
    const unsigned long handle = arg_handle(f.json);
    std::string phone = arg_text(f.json, "phone");
    std::string msg = arg_text(f.json, "msg");
    const int result = olva_send_gsm_msg(handle, arg_int(f.json, "mode"), phone.data(), msg.data(),
                                         static_cast<int>(msg.size()));
    logger(-1, "userver", "", "recv from %s msg, handle:%d, result=%d", f.addr,
           static_cast<int>(handle), result);
    if (result <= 0)
        send_notiy_msg(f.conn, "msg", static_cast<int>(handle), result);
}

void COlvaMgr::cmd_query_sms(const Frame& f)
{
    const unsigned long handle = arg_handle(f.json);
    const int number = arg_int(f.json, "smsNo");
    const int result = arg_int(f.json, "mode") != 0 ? olva_query_gsm_msgEx(handle, number)
                                                     : olva_query_gsm_msg(handle, number);
    logger(-1, "userver", "", "recv from %s querySms No=%d result=%d", f.addr, number, result);
    send_notiy_msg(f.conn, "querySms", 0, result);
}

void COlvaMgr::cmd_delete_sms(const Frame& f)
{
    const unsigned long handle = arg_handle(f.json);
    const int type = arg_int(f.json, "smsType");
    const int number = arg_int(f.json, "smsNo");
    // Pages written for this service send the message's index as smsType
    // and the delete flag as smsNo: smsNo 0 deletes that message alone.
    const int result = olva_delete_gsm_msg(handle, number, type);
    logger(-1, "userver", "", "recv from %s Delete sms smstype:%d, No=%d result=%d", f.addr, type,
           number, result);
    send_notiy_msg(f.conn, "deleteSms", 0, result);
}
