#include "usb_hid/hid_reports.h"

#include <charconv>
#include <cstdio>

#include "model/model_traits.h"
#include "model/olva_product.h"
#include "usb_hid/tz2701_bridge_reports.h"

bool tz2401_threshold_word(int threshold, std::uint8_t& p1, std::uint8_t& p2)
{
    if (threshold < 0 || threshold > 0xFF)
        return false;
    const int check = 16 - (threshold & 0x0F) - (threshold >> 4);
    if (check < 0 || check > 0x0F)
        return false;
    const int word = (threshold << 4) | check;
    p1 = static_cast<std::uint8_t>(word & 0xFF);
    p2 = static_cast<std::uint8_t>((word >> 8) & 0x0F);
    return true;
}

bool tz2401_param_value(const std::uint8_t reply[tz2401::kReportSize], bool packed_voltage,
                        std::uint8_t& out)
{
    if (packed_voltage) {
        out = static_cast<std::uint8_t>((reply[5] << 4) | (reply[4] >> 4));
        return true;
    }
    if (reply[0] != tz2401::kReportId)
        return false;
    switch (reply[2]) {
    case 0x10:
        if (reply[1] == 0xFE || reply[1] == 0xFF)
            return false;
        out = reply[1];
        return true;
    case 0x20:
        if (reply[1] >= 0x80 && reply[3] >= 0x80)
            return false;
        out = reply[1];
        return true;
    default:
        return false;
    }
}

ParamexReply tz2401_paramex_reply(const std::uint8_t reply[tz2401::kReportSize])
{
    if (reply[0] == tz2401::kReportId)
        return (reply[1] == tz2401::kEepromReadFirst || reply[1] == tz2401::kEepromReadSecond)
                   ? ParamexReply::kData
                   : ParamexReply::kRefused;
    if (reply[0] == 0 && reply[1] == 0 && reply[2] == 0)
        return ParamexReply::kEmpty;
    return ParamexReply::kRefused;
}

bool tz2501b_status_bits(const std::uint8_t report[4], std::uint8_t& bits)
{
    if (report[0] != 0 || (report[3] & 0xF0) != 0x30)
        return false;
    const std::uint8_t status = report[1];
    bits = static_cast<std::uint8_t>(((status >> 5) & 1) | (((status >> 7) & 1) << 1) |
                                     (((status >> 6) & 1) << 2));
    return true;
}

float hid_version_number(int model, std::uint8_t version1, std::uint8_t version2)
{
    char text[8];
    int length;
    const bool short_version = model_traits(model).short_version;
    if (short_version)
        length = std::snprintf(text, sizeof text, "%02x", version2);
    else
        length = std::snprintf(text, sizeof text, "%02x.%02x", version1, version2);
    float value = 0;
    // Hex digits a-f end the number where they stand, as a decimal reader would.
    std::from_chars(text, text + length, value);
    return short_version ? value : value / 10;
}

std::uint8_t user_number_sum(const std::uint8_t* bytes, std::size_t length)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < length; ++i)
        sum += bytes[i];
    return static_cast<std::uint8_t>(sum);
}

bool tz2701_is_reply(const std::uint8_t* report, std::size_t length)
{
    if (length < 2 || report[0] != tz2401::kReportId)
        return false;
    const std::uint8_t kind = report[1];
    return !tz2701::is_text_head(kind) && kind != tz2701::kStatusHead;
}

namespace {

std::string hex_items(const std::uint8_t* data, std::size_t length, const char* item_format)
{
    std::string text;
    char item[8];
    for (std::size_t i = 0; i < length; ++i) {
        std::snprintf(item, sizeof item, item_format, data[i]);
        text += item;
    }
    return text;
}

}  // namespace

std::string hid_hex_bytes(const std::uint8_t* data, std::size_t length)
{
    return hex_items(data, length, " 0x%02x");
}

std::string hid_spaced_hex(const std::uint8_t* data, std::size_t length)
{
    return hex_items(data, length, " %02x");
}
