// The library's SMS functions on a Tz2701A: sending, and the module's
// stored messages (count, read, delete) through AT commands whose answers
// come back as events 38 and 35. A closed library answers -7 before any
// argument is looked at.
#include <string>

#include "base/logger.h"
#include "cavrel_olva.h"
#include "olva_manager/library_call.h"

namespace {

// "AT+CMGD=index,flag": flag 0 deletes the one message, 1 to 4 the read,
// sent, unsent or all messages as well.
constexpr int kMaxDeleteFlag = 4;

int send_command(OlvaManager& m, unsigned long h, const std::string& command)
{
    return m.olva_send_gsm_cmd(h, command.c_str(), static_cast<int>(command.size()));
}

// A stored message read back: UCS2 text as hex digits (type 0) or decoded.
int query_message(unsigned long h, int index, int delivery_type)
{
    return with_manager([=](OlvaManager& m) {
        if (index < 0) {
            logger(1, "olva ", "", "query short msg: index %d refused", index);
            return static_cast<int>(OLVA_ERR_INVALID_PARAM);
        }
        const int result = m.olva_set_recv_short_msg_type(h, delivery_type);
        if (result != OLVA_OK)
            return result;
        return send_command(m, h, "AT+CMGR=" + std::to_string(index));
    });
}

}  // namespace

int olva_send_gsm_msg(unsigned long h, int type, char* number, char* text, int len)
{
    return with_manager([=](OlvaManager& m) {
        if (!number || !text)
            return static_cast<int>(OLVA_ERR_INVALID_PARAM);
        return m.olva_send_gsm_msg(h, type, number, text, len);
    });
}

int olva_query_gsm_msg_number(unsigned long h)
{
    return with_manager([h](OlvaManager& m) { return send_command(m, h, "AT+CPMS?"); });
}

int olva_query_gsm_msg(unsigned long h, int index)
{
    return query_message(h, index, 0);
}

int olva_query_gsm_msgEx(unsigned long h, int index)
{
    return query_message(h, index, 1);
}

int olva_delete_gsm_msg(unsigned long h, int flag, int index)
{
    return with_manager([=](OlvaManager& m) {
        if (index < 0 || flag < 0 || flag > kMaxDeleteFlag) {
            logger(1, "olva ", "", "delete short msg: index %d, flag %d refused", index, flag);
            return static_cast<int>(OLVA_ERR_INVALID_PARAM);
        }
        return send_command(m, h, "AT+CMGD=" + std::to_string(index) + "," + std::to_string(flag));
    });
}
