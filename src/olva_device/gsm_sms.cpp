// SMS on the Tz2701A's module: a text turned into its parts and queued for
// the command pump, which sends them one after another and reports the
// message as event 40; and received PDU lines reported as event 35.
#include <cstring>

#include "base/logger.h"
#include "gsm/sms_send.h"
#include "olva_device/olva_device.h"

namespace {

unsigned long text_parameter(const std::string& text)
{
    return reinterpret_cast<unsigned long>(text.c_str());
}

}  // namespace

int OlvaDevice::olva_send_gsm_msg(unsigned long, const char* number, int type, const char* text,
                                  int len)
{
    if (!number || !text || len < 0) {
        BOX_LOG(1, "%s short msg refused: no number or text");
        return OLVA_ERR_INVALID_PARAM;
    }
    BOX_LOG(4, "%s phonenumber:%s, len:%d ,type:%d", number, len, type);
    std::string centre;
    {
        std::lock_guard<std::mutex> lock(gsm_mutex_);
        centre = gsm_.service_centre;
    }
    // Two messages never share a reference, even when sent at once.
    const std::uint8_t reference = sms_reference_.fetch_add(1);
    const gsm::SmsPlan plan =
        gsm::plan_sms(centre, number, type, {text, strnlen(text, static_cast<std::size_t>(len))},
                      reference, kMaxQueuedSmsParts);
    if (!plan.error.empty()) {
        BOX_LOG(1, "%s short msg refused: %s", plan.error.c_str());
        return OLVA_ERR_INVALID_PARAM;
    }
    if (plan.pdus.size() > 1) {
        BOX_LOG(4, "%s nUnidecodeLen:%d", static_cast<int>(plan.ucs2_hex_chars));
        BOX_LOG(4, "%s sms  number:%d", static_cast<int>(plan.pdus.size()));
    }
    for (const std::string& pdu : plan.pdus)
        BOX_LOG(4, "%s ++ nTpUdlen(%d), pdulength:%d, type:%d",
                static_cast<int>(plan.ucs2_hex_chars), static_cast<int>(pdu.size()), type);
    {
        // The part-OK flag is the pump's: it clears it with every PDU sent.
        std::lock_guard<std::mutex> lock(gsm_mutex_);
        gsm_.sms_active = true;
    }
    // PDU mode first; the pump sends the command queue before any part.
    if (Tz2701_Send_at("AT+CMGF=0\r") != 1 || Tz2701_Send_shortMsgParts(reference, plan.pdus) != 1) {
        BOX_LOG(1, "%s short msg refused: the queue is full");
        {
            // The refused message is not being sent, and must not hold the
            // signal poll back; one already under way still is.
            std::lock_guard<std::mutex> lock(gsm_mutex_);
            gsm_.sms_active = gsm_.sms_index != -1 || queued_sms_parts() > 0;
        }
        return OLVA_ERR_FAILED;
    }
    return OLVA_OK;
}

int OlvaDevice::olva_set_recv_short_msg_type(unsigned long, int type)
{
    recv_msg_type_.store(type);
    return OLVA_OK;
}

gsm::ReceivedSms::Outcome OlvaDevice::pdumsg_handle(const std::string& line)
{
    const gsm::ReceivedSms sms = gsm::read_received_sms(line, recv_msg_type_.load());
    // A message delivered as it arrives has no storage index.
    BOX_LOG(4, "%s recv msg nlength:%d,, from:%s, msg:%s,, time:%s,index:%d",
            static_cast<int>(sms.text.size()), sms.from.c_str(), sms.text.c_str(), sms.time.c_str(),
            0);
    for (const gsm::Action& log : sms.logs)
        BOX_LOG(static_cast<int>(log.a), "%s%s", log.text.c_str());
    if (sms.outcome == gsm::ReceivedSms::Outcome::kReport)
        fire_event(1, OLVA_EVENT_SHORT_MSG, text_parameter(sms.from), text_parameter(sms.time),
                   text_parameter(sms.text), text_parameter(sms.part));
    return sms.outcome;
}
