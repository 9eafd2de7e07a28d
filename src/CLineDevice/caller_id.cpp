// The FSK caller-ID message of a line: the bytes the demodulator delivers
// between rings, the report of a parsed message (event 21) and the counts
// of the FSK/DTMF priority rule.
//
// The caller-ID mutex is held only over the byte buffer; no other lock is
// taken under it and no event is raised with it held.
#include "CLineDevice/CLineDevice.h"
#include "CLineDevice/cid_message.h"
#include "base/logger.h"
#include "base/platform/clock.h"

namespace {

// FSK caller IDs counted since open before they win over DTMF ones.
constexpr int kFskPriorityCount = 3;

unsigned long textParam(const std::string& text)
{
    return reinterpret_cast<unsigned long>(text.c_str());
}

}  // namespace

void CLineDevice::empty_cid_bytes()
{
    std::lock_guard<std::mutex> lock(cid_mutex_);
    cid_bytes_.clear();
}

void CLineDevice::arm_cid_message()
{
    std::lock_guard<std::mutex> lock(cid_mutex_);
    cid_bytes_.clear();
    cid_message_done_ = false;
}

void CLineDevice::handld_cid_start()
{
    arm_cid_message();
}

void CLineDevice::OnCidData(std::uint8_t byte)
{
    // The texts are the line's own copies for the duration of the event.
    cid_message::Texts texts;
    cid_message::Parse parsed = cid_message::Parse::kIncomplete;
    bool refused = false;
    {
        std::lock_guard<std::mutex> lock(cid_mutex_);
        if (cid_message_done_)
            return;
        if (cid_bytes_.size() >= kMaxCidBytes) {
            refused = true;
        } else {
            cid_bytes_.push_back(byte);
            parsed = cid_message::parse(cid_bytes_.data(), cid_bytes_.size(),
                                        settings_.cid_mdmf_type3_enable.load() != 0, texts);
            if (parsed != cid_message::Parse::kIncomplete) {
                cid_message_done_ = true;
                cid_bytes_.clear();
            }
        }
    }
    if (refused) {
        LINE_LOG(2, "%s cid byte 0x%02x refused: %zu bytes without a message", byte,
                 kMaxCidBytes);
        return;
    }
    LINE_LOG(4, "%s 0x%02x", byte);
    if (parsed != cid_message::Parse::kComplete)
        return;

    dialling_.store(false);
    const int cid_type = settings_.cid_type.load();
    if (cid_type == 2)
        return;
    fsk_cid_.store(true);
    LINE_LOG(3, "%s cid_type:%d, cid:%s, time:%s, dtmfcid length:%d", cid_type,
             texts.number.c_str(), texts.time.c_str(), static_cast<int>(dial_buffer().size()));
    if (dtmf_cid_.load())
        return;

    if (!cid_number_reported_.load() || !texts.number.empty())
        fire_event(OLVA_EVENT_CALLER_ID, textParam(texts.number), textParam(texts.time),
                   textParam(texts.name), 0);
    else
        LINE_LOG(3, "%s already detect cid number, not send fask cid length is 0 ");
    if (!texts.number.empty())
        cid_number_reported_.store(true);

    if (traits().extension_on_line2 && auto_link_slic_.load() != 0 &&
        call_phase_.load() != 3) {
        cid_ring_flag_.store(1);
        LINE_LOG(3, "%s start slic ring");
        slic_ring_phase_.store(OLVA_STATE_RINGING);
        slic_ring_phase_start_.store(platform::clock().wallSeconds());
        control_slic_ring(1);
        slic_ring_phase_ms_.store(0);
        slic_ring_on_.store(true);
    }

    if (fsk_cid_count_.fetch_add(1) + 1 == kFskPriorityCount && fsk_priority_.load() == 0) {
        fsk_priority_.store(1);
        LINE_LOG(3, "%s++  change  fsk high priority");
    }
}
