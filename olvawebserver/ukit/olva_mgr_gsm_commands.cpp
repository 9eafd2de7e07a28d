// Browser commands of the GSM box: calls, the extension phone, the audio
// paths and recording sources, the SIM slot and the module's power and
// power key. On the web thread, like every command.
#include "base/logger.h"
#include "cavrel_olva.h"
#include "ukit/command_args.h"
#include "ukit/olva_mgr.h"

namespace {

using web::arg_handle;
using web::arg_int;
using web::arg_text;

// "olva_makecallSlic" with state 1 rings the extension 1 s on, 4 s off;
// any other state stops it.
constexpr int kRingState = 1;
constexpr int kRingOnMs = 1000;
constexpr int kRingOffMs = 4000;
constexpr int kStopRing = -1;

}  // namespace

void COlvaMgr::cmd_set_talk_link(const Frame& f)
{
    const int result =
        olva_set_talk_link(arg_handle(f.json), arg_int(f.json, "mode"), arg_int(f.json, "value"));
    logger(-1, "userver", "", "recv from %s set_talk_link, result=%d", f.addr, result);
    send_notiy_msg(f.conn, "set_talk_link", 0, result);
}

void COlvaMgr::cmd_set_record_enable(const Frame& f)
{
    const int result = olva_set_record_enable(arg_handle(f.json), arg_int(f.json, "mode"),
                                              arg_int(f.json, "value"));
    logger(-1, "userver", "", "recv from %s set_record_enable, result=%d", f.addr, result);
    send_notiy_msg(f.conn, "set_record_enable", 0, result);
}

void COlvaMgr::cmd_makecall(const Frame& f)
{
    const unsigned long handle = arg_handle(f.json);
    std::string number = arg_text(f.json, "dtmf");
    const int result = olva_makecall(handle, number.data());
    logger(-1, "userver", "", "recv from %s makecall, handle:%d,, result=%d", f.addr,
           static_cast<int>(handle), result);
    if (result != 0)
        send_notiy_msg(f.conn, "makecall", static_cast<int>(handle), result);
}

void COlvaMgr::cmd_reject_call(const Frame& f)
{
    line_command(f, "rejectcall", "rejectcall", olva_reject_call);
}

void COlvaMgr::cmd_makecall_slic(const Frame& f)
{
    const unsigned long handle = arg_handle(f.json);
    std::string number = arg_text(f.json, "phonenumber");
    const bool ring = arg_int(f.json, "state") == kRingState;
    const int result = olva_makecallSlic(handle, ring ? kRingOnMs : kStopRing,
                                         ring ? kRingOffMs : kStopRing, number.data());
    logger(-1, "userver", "", "recv from %s makecall, handle:%d,, result=%d", f.addr,
           static_cast<int>(handle), result);
    if (result != 0)
        send_notiy_msg(f.conn, "makecall", static_cast<int>(handle), result);
}

void COlvaMgr::cmd_select_simcard(const Frame& f)
{
    olva_select_simcard(arg_handle(f.json), static_cast<unsigned>(arg_int(f.json, "cardno")));
}

void COlvaMgr::cmd_gsm_power(const Frame& f)
{
    olva_gsm_power(arg_handle(f.json), static_cast<unsigned>(arg_int(f.json, "value")));
}

void COlvaMgr::cmd_gsm_boot(const Frame& f)
{
    olva_gsm_bootkey(arg_handle(f.json), static_cast<unsigned>(arg_int(f.json, "value")));
}
