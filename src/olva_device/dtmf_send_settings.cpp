#include "olva_device/dtmf_send_settings.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

#include "base/base_ini.h"
#include "base/logger.h"

namespace {

constexpr const char* kIniSection = "device";
constexpr const char* kDtmfCofKey = "dtmf_cof";
// Room for any sensible decimal text; a longer value is cut to it.
constexpr std::size_t kDtmfCofTextSize = 32;

struct IntKey {
    const char* key;
    int DtmfSendSettings::*member;
    int min;
    int max;
};

// In the order they are read and written.
constexpr IntKey kIntKeys[] = {
    {"tone_time", &DtmfSendSettings::tone_time, 80, 150},
    {"silence_time", &DtmfSendSettings::silence_time, 50, 200},
    {"dtmf_scale", &DtmfSendSettings::dtmf_scale, 190, 240},
    {"speaker_volume", &DtmfSendSettings::speaker_volume, 5, 18},
};

}  // namespace

std::string dtmf_cof_text(float dtmf_cof)
{
    std::ostringstream text;
    text << dtmf_cof;
    return text.str();
}

DtmfSendSettings read_dtmf_send_settings(const std::string& ini_path, const char* log_tag)
{
    const char* ini = ini_path.c_str();
    DtmfSendSettings settings;
    for (const IntKey& row : kIntKeys) {
        const int value = readIntValue(kIniSection, row.key, ini);
        if (value == -1)
            writeIntValue(kIniSection, row.key, settings.*row.member, ini);
        else
            settings.*row.member = value;
    }

    const std::string default_text = dtmf_cof_text(settings.dtmf_cof);
    char text[kDtmfCofTextSize] = {};
    if (readStringValue(kIniSection, kDtmfCofKey, text, ini, sizeof text) != 0) {
        writeStringVlaue(kIniSection, kDtmfCofKey, default_text.c_str(), ini);
        return settings;
    }
    char* end = nullptr;
    const float value = std::strtof(text, &end);
    if (end == text || !std::isfinite(value)) {
        logger(2, "olva ", log_tag, "%s dtmf_cof(%s) is no number, %s is used", log_tag, text,
               default_text.c_str());
        return settings;
    }
    settings.dtmf_cof = value;
    return settings;
}

bool dtmf_send_settings_in_range(const DtmfSendSettings& settings)
{
    for (const IntKey& row : kIntKeys) {
        const int value = settings.*row.member;
        if (value < row.min || value > row.max)
            return false;
    }
    return std::isfinite(settings.dtmf_cof);
}

bool write_dtmf_send_settings(const DtmfSendSettings& settings, const std::string& ini_path)
{
    const char* ini = ini_path.c_str();
    bool written = true;
    for (const IntKey& row : kIntKeys)
        written = writeIntValue(kIniSection, row.key, settings.*row.member, ini) == 0 && written;
    const std::string cof = dtmf_cof_text(settings.dtmf_cof);
    return writeStringVlaue(kIniSection, kDtmfCofKey, cof.c_str(), ini) == 0 && written;
}
