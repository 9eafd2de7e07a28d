// The library's GSM calls, module controls and extension phone, and the
// module's volumes and tones, which are AT commands for the module.
#include <cstdio>
#include <string>

#include "base/logger.h"
#include "cavrel_olva.h"
#include "model/model_traits.h"
#include "olva_manager/library_call.h"

namespace {

// The module's firmware generation, read as the box's version number: a
// 4G module's box reports 20 or more.
constexpr float kFourGVersion = 20.0f;
// Volume limits by generation: speaker, and microphone gain.
constexpr unsigned kMaxSpeaker4G = 5;
constexpr unsigned kMaxSpeaker2G = 100;
constexpr unsigned kMaxMic4G = 65535;
constexpr unsigned kMaxMic2G = 10;
// A 4G microphone gain above this gives its second channel 4000 less.
constexpr unsigned kMicSecondChannelSplit = 10000;
constexpr unsigned kMicSecondChannelDrop = 4000;
// The devtype buffer the caller gives is shorter than this.
constexpr int kDevtypeLimit = 256;

// A switch given as 0 or 1.
bool is_switch(unsigned value)
{
    return value <= 1;
}

// The handle's box when it is a Tz2701A: its version number (0 when it
// cannot be read), else -7 (a bad handle fails the check too).
int gsm_box_version(OlvaManager& m, unsigned long h, float* version)
{
    if (!model_traits(m.olva_get_product_name(h)).gsm)
        return OLVA_ERR_NOT_AVAILABLE;
    *version = 0;
    if (m.olva_get_device_versionnum(h, *version) != 0)
        *version = 0;
    return OLVA_OK;
}

int send_text(OlvaManager& m, unsigned long h, const std::string& text)
{
    return m.olva_send_gsm_cmd(h, text.c_str(), static_cast<int>(text.size()));
}

}  // namespace

int olva_makecall(unsigned long h, char* number)
{
    return with_manager([=](OlvaManager& m) { return m.olva_makecall(h, number); });
}

int olva_reject_call(unsigned long h)
{
    return with_manager([=](OlvaManager& m) { return m.olva_reject_call(h); });
}

int olva_set_talk_link(unsigned long h, int type, int on)
{
    return with_manager([=](OlvaManager& m) { return m.olva_set_talk_link(h, type, on); });
}

int olva_set_record_enable(unsigned long h, int type, int on)
{
    return with_manager([=](OlvaManager& m) { return m.olva_set_record_switch(h, type, on); });
}

int olva_makecallSlic(unsigned long h, int a, int b, char* number)
{
    return with_manager([=](OlvaManager& m) { return m.olva_makecallSlic(h, a, b, number); });
}

int olva_gsm_power(unsigned long h, unsigned on)
{
    return with_manager([=](OlvaManager& m) {
        return is_switch(on) ? m.olva_gsm_power(h, on) : static_cast<int>(OLVA_ERR_INVALID_PARAM);
    });
}

int olva_gsm_bootkey(unsigned long h, unsigned on)
{
    return with_manager([=](OlvaManager& m) {
        return is_switch(on) ? m.olva_gsm_bootkey(h, on) : static_cast<int>(OLVA_ERR_INVALID_PARAM);
    });
}

int olva_select_simcard(unsigned long h, unsigned sim)
{
    return with_manager([=](OlvaManager& m) {
        return is_switch(sim) ? m.olva_select_simcard(h, sim) : static_cast<int>(OLVA_ERR_INVALID_PARAM);
    });
}

int olva_feed_slic_polarity(unsigned long h, int polarity)
{
    return with_manager([=](OlvaManager& m) { return m.olva_feed_slic_polarity(h, polarity); });
}

int olva_set_gsm_work_mode(unsigned long h, int index, int value)
{
    return with_manager([=](OlvaManager& m) { return m.olva_set_gsm_work_mode(h, index, value); });
}

int olva_set_gsm_vol(unsigned long h, int type, unsigned level)
{
    return with_manager([=](OlvaManager& m) {
        float version = 0;
        if (const int checked = gsm_box_version(m, h, &version); checked != OLVA_OK)
            return checked;
        const bool four_g = version >= kFourGVersion;
        char text[64];
        if (type != 0) {
            if (level > (four_g ? kMaxSpeaker4G : kMaxSpeaker2G))
                return static_cast<int>(OLVA_ERR_INVALID_PARAM);
            std::snprintf(text, sizeof text, "AT+CLVL=%u", level);
        } else if (four_g) {
            if (level > kMaxMic4G)
                return static_cast<int>(OLVA_ERR_INVALID_PARAM);
            const unsigned second =
                level <= kMicSecondChannelSplit ? level : level - kMicSecondChannelDrop;
            std::snprintf(text, sizeof text, "AT+QMIC=%u,%u", level, second);
        } else {
            if (level > kMaxMic2G)
                return static_cast<int>(OLVA_ERR_INVALID_PARAM);
            std::snprintf(text, sizeof text, "AT+QMIC=0,%u", level);
        }
        return send_text(m, h, text);
    });
}

int olva_get_gsm_vol(unsigned long h, int type)
{
    return with_manager([=](OlvaManager& m) {
        float version = 0;
        if (const int checked = gsm_box_version(m, h, &version); checked != OLVA_OK)
            return checked;
        // The read form on every module: "=?" would list the range that
        // the module takes, not the level it has.
        return send_text(m, h, type != 0 ? "AT+CLVL?" : "AT+QMIC?");
    });
}

int olva_gsm_generate_tone(unsigned long h, int a, int b, int c, int d, int e)
{
    return with_manager([=](OlvaManager& m) {
        char text[96];
        float version = 0;
        // A 4G module stops its tone with the one value.
        if (a == 0 && gsm_box_version(m, h, &version) == OLVA_OK && version >= kFourGVersion)
            std::snprintf(text, sizeof text, "AT+QLTONE=%d", 0);
        else
            std::snprintf(text, sizeof text, "AT+QLTONE=%d,%d,%d,%d,%d", a, b, c, d, e);
        return send_text(m, h, text);
    });
}

int olva_get_gsm_devtype(unsigned long h, unsigned char* data, int len)
{
    return with_manager([=](OlvaManager& m) {
        if (!model_traits(m.olva_get_product_name(h)).gsm)
            return static_cast<int>(OLVA_ERR_NOT_AVAILABLE);
        if (!data || len >= kDevtypeLimit)
            return static_cast<int>(OLVA_ERR_INVALID_PARAM);
        return static_cast<int>(OLVA_OK);
    });
}
