#include "gsm/sms_send.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "codecs/Sms.h"

namespace gsm {

namespace {

constexpr char kCtrlZ = 0x1A;
// The concatenation header counts its parts in one octet.
constexpr std::size_t kMaxConcatParts = 255;

bool valid_destination(std::string_view number)
{
    if (!number.empty() && number.front() == '+')
        number.remove_prefix(1);
    return !number.empty() && number.size() <= kMaxSmsNumberDigits &&
           std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool valid_hex(std::string_view text)
{
    return text.size() % 2 == 0 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
           });
}

std::string ucs2_hex_of(std::string_view utf8)
{
    std::vector<unsigned char> ucs2(2 * utf8.size() + 2);
    const int octets = gsmEncodeUcs2(std::string(utf8).c_str(), ucs2.data(), static_cast<int>(utf8.size()));
    std::string hex(2 * static_cast<std::size_t>(octets) + 1, '\0');
    gsmBytes2String(ucs2.data(), hex.data(), octets);
    hex.resize(2 * static_cast<std::size_t>(octets));
    return hex;
}

// The record of one PDU: UCS2 text already as hex (sent with coding scheme 8).
SM_PARAM param_for(const std::string& service_centre, std::string_view number, std::string_view hex)
{
    SM_PARAM param{};
    std::memcpy(param.SCA, service_centre.data(), std::min(service_centre.size(), sizeof param.SCA - 1));
    std::memcpy(param.TPA, number.data(), number.size());
    param.TP_PID = 0;
    param.TP_DCS = kSmsDcsUcs2Hex;
    std::memcpy(param.TP_UD, hex.data(), hex.size());
    return param;
}

}  // namespace

SmsPlan plan_sms(const std::string& service_centre, std::string_view number, int type,
                 std::string_view text, std::uint8_t reference, std::size_t max_parts)
{
    SmsPlan plan;
    if (!valid_destination(number)) {
        plan.error = "number is not 1 to 15 digits";
        return plan;
    }
    if (type == kSmsTypeUcs2Hex && !valid_hex(text)) {
        plan.error = "UCS2 text is not pairs of hex digits";
        return plan;
    }
    const std::string hex = type == kSmsTypeUcs2Hex ? std::string(text) : ucs2_hex_of(text);
    plan.ucs2_hex_chars = hex.size();
    const std::size_t parts = hex.size() <= kSingleSmsHexChars
                                  ? 1
                                  : (hex.size() + kSmsPartHexChars - 1) / kSmsPartHexChars;
    if (parts > std::min(max_parts, kMaxConcatParts)) {
        plan.error = "text needs " + std::to_string(parts) + " parts";
        return plan;
    }
    char pdu[kSmsPduHexMax + 1];
    for (std::size_t i = 0; i < parts; ++i) {
        const std::string_view chunk =
            parts == 1 ? std::string_view(hex)
                       : std::string_view(hex).substr(i * kSmsPartHexChars, kSmsPartHexChars);
        const SM_PARAM param = param_for(service_centre, number, chunk);
        const int length = parts == 1 ? gsmEncodePdu(&param, pdu)
                                      : gsmEncodeMultiSmsPdu(&param, pdu, reference,
                                                             static_cast<unsigned char>(parts),
                                                             static_cast<unsigned char>(i + 1));
        if (length < 0) {
            plan.pdus.clear();
            plan.error = "the PDU could not be built";
            return plan;
        }
        plan.pdus.push_back(std::string(pdu, static_cast<std::size_t>(length)) + kCtrlZ);
    }
    return plan;
}

}  // namespace gsm
