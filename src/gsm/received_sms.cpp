#include "gsm/received_sms.h"

#include <cstdint>
#include <cstdio>

#include "Sms.h"
#include "common.h"
#include "gsm_alphabet.h"

namespace gsm {

namespace {

using Outcome = ReceivedSms::Outcome;

constexpr std::uint8_t kMessageTypeMask = 0x03;  // 0: SMS-DELIVER
constexpr std::uint8_t kUserDataHeader = 0x40;
constexpr std::uint8_t kTypeOfNumberMask = 0x70;
constexpr std::uint8_t kAlphanumeric = 0x50;
constexpr std::size_t kMaxAddressDigits = 20;
constexpr std::size_t kTimeStampOctets = 7;
// Concatenation elements of a user-data header: 8-bit reference (3 octets
// of data) and 16-bit reference (4 octets).
constexpr std::uint8_t kConcat8 = 0x00;
constexpr std::uint8_t kConcat16 = 0x08;

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Reads octets off hex text, never past its end.
class Cursor {
public:
    explicit Cursor(std::string_view hex) : hex_(hex) {}

    bool octet(std::uint8_t& value)
    {
        if (hex_.size() - pos_ < 2)
            return false;
        value = static_cast<std::uint8_t>(hex_value(hex_[pos_]) << 4 | hex_value(hex_[pos_ + 1]));
        pos_ += 2;
        return true;
    }
    // The next count octets as their hex characters.
    bool chars(std::size_t count, std::string_view& out)
    {
        if ((hex_.size() - pos_) / 2 < count)
            return false;
        out = hex_.substr(pos_, 2 * count);
        pos_ += 2 * count;
        return true;
    }
    bool octets(std::size_t count, std::uint8_t* out)
    {
        std::string_view text;
        if (!chars(count, text))
            return false;
        for (std::size_t i = 0; i < count; ++i)
            out[i] = static_cast<std::uint8_t>(hex_value(text[2 * i]) << 4 | hex_value(text[2 * i + 1]));
        return true;
    }

private:
    std::string_view hex_;
    std::size_t pos_ = 0;
};

struct Reading {
    ReceivedSms sms;
    void note(const std::string& text, int level = 4) { sms.logs.push_back(log(level, text)); }
    ReceivedSms refuse(const std::string& why)
    {
        note("short msg refused: " + why, 2);
        sms.outcome = Outcome::kNoReport;
        return std::move(sms);
    }
};

// One swapped pair of time-stamp digits ("90" is 9); hex letters read as
// their value, which keeps the field bounded.
int swapped_pair(std::string_view pair)
{
    return hex_value(pair[1]) * 10 + hex_value(pair[0]);
}

std::string sender_of(std::string_view digits_hex, std::size_t digits, std::uint8_t type)
{
    if ((type & kTypeOfNumberMask) == kAlphanumeric) {
        std::uint8_t packed[kMaxAddressDigits / 2];
        const std::size_t octets = digits_hex.size() / 2;
        for (std::size_t i = 0; i < octets; ++i)
            packed[i] = static_cast<std::uint8_t>(hex_value(digits_hex[2 * i]) << 4 |
                                                  hex_value(digits_hex[2 * i + 1]));
        char septets[kMaxAddressDigits + 2];
        gsmDecode7bit(packed, septets, static_cast<int>(octets));
        return gsm7ToUtf8(reinterpret_cast<const std::uint8_t*>(septets), digits * 4 / 7);
    }
    char number[kMaxAddressDigits + 1] = {};
    const int n = ChartoPhoneNum(std::string(digits_hex).c_str(), number,
                                 static_cast<std::uint8_t>(digits_hex.size()));
    return std::string(number, static_cast<std::size_t>(n < 0 ? 0 : n));
}

// The concatenation element among the header's elements: "total(number)".
std::string part_of(const std::uint8_t* header, std::size_t length)
{
    std::size_t at = 0;
    while (at + 2 <= length) {
        const std::uint8_t id = header[at];
        const std::size_t size = header[at + 1];
        const std::uint8_t* data = header + at + 2;
        if (at + 2 + size > length)
            break;
        if ((id == kConcat8 && size == 3) || (id == kConcat16 && size == 4)) {
            const std::uint8_t total = data[size - 2];
            const std::uint8_t number = data[size - 1];
            char text[16];
            std::snprintf(text, sizeof text, "%d(%d)", total, number);
            return text;
        }
        at += 2 + size;
    }
    return "";
}

std::string json_line(const ReceivedSms& sms)
{
    return "{\"channel\":0, \"event\":\"sms\", \"from\":\"" + sms.from + "\", \"time\":\"" + sms.time +
           "\", \"result\":\"" + sms.text + "\"}";
}

}  // namespace

ReceivedSms read_received_sms(std::string_view line, int delivery_type)
{
    Reading r;
    for (const char c : line)
        if (hex_value(c) < 0) {
            r.sms.outcome = Outcome::kNotPdu;
            return std::move(r.sms);
        }
    Cursor in(line);
    std::uint8_t centre = 0, first = 0, digits = 0, type = 0, pid = 0, dcs = 0, udl = 0;
    std::string_view skipped;
    if (!in.octet(centre) || !in.chars(centre, skipped))
        return r.refuse("the line ends inside the service centre");
    if (!in.octet(first) || !in.octet(digits))
        return r.refuse("the line ends before the sender");
    if ((first & kMessageTypeMask) != 0)
        return r.refuse("not an SMS-DELIVER");
    if (digits > kMaxAddressDigits)
        return r.refuse("sender of " + std::to_string(digits) + " digits");
    std::string_view sender;
    if (!in.octet(type) || !in.chars((digits + 1u) / 2, sender))
        return r.refuse("the line ends inside the sender");
    r.sms.from = sender_of(sender, digits, type);
    r.note("phonenumber: " + r.sms.from);

    std::string_view stamp;
    if (!in.octet(pid) || !in.octet(dcs) || !in.chars(kTimeStampOctets, stamp) || !in.octet(udl))
        return r.refuse("the line ends before the user data");
    r.note("SMS_Size: " + std::to_string(udl));
    char time[48];
    std::snprintf(time, sizeof time, "%04d-%02d-%02d %02d:%02d:%02d", swapped_pair(stamp.substr(0, 2)) + 2000,
                  swapped_pair(stamp.substr(2, 2)), swapped_pair(stamp.substr(4, 2)),
                  swapped_pair(stamp.substr(6, 2)), swapped_pair(stamp.substr(8, 2)),
                  swapped_pair(stamp.substr(10, 2)));
    r.sms.time = time;

    const SmsAlphabet alphabet = gsmDcsAlphabet(dcs);
    const bool seven_bit = alphabet == SmsAlphabet::Gsm7;
    if (udl > (seven_bit ? kSmsSeptetsMax : kSmsUserDataOctetsMax))
        return r.refuse("user-data length " + std::to_string(udl) + " beyond one SMS");
    const std::size_t octets = seven_bit ? (udl * 7u + 7) / 8 : udl;
    std::uint8_t ud[kSmsUserDataOctetsMax];
    if (!in.octets(octets, ud))
        return r.refuse("user-data length " + std::to_string(udl) + " beyond the line");

    std::size_t header = 0;
    if (first & kUserDataHeader) {
        if (octets == 0 || 1u + ud[0] > octets)
            return r.refuse("user-data header beyond the user data");
        header = 1u + ud[0];
        r.sms.part = part_of(ud + 1, ud[0]);
        if (!r.sms.part.empty())
            r.note("msg divide :" + r.sms.part);
    }

    if (alphabet == SmsAlphabet::Data8) {
        r.note("8bit is not support");
        return std::move(r.sms);
    }
    if (seven_bit) {
        r.note("7bit support");
        // The header and its fill bits take whole septets.
        const std::size_t skip = (header * 8 + 6) / 7;
        if (skip > udl)
            return r.refuse("user-data header beyond the user data");
        char septets[kSmsSeptetsMax + 2];
        gsmDecode7bit(ud, septets, static_cast<int>(octets));
        r.sms.text = gsm7ToUtf8(reinterpret_cast<const std::uint8_t*>(septets) + skip, udl - skip);
        r.note(json_line(r.sms));
        r.note("msg:" + r.sms.text);
    } else if (delivery_type == kDeliverUcs2AsHex) {
        std::string hex(2 * (octets - header) + 1, '\0');
        gsmBytes2String(ud + header, hex.data(), static_cast<int>(octets - header));
        hex.pop_back();
        r.sms.text = std::move(hex);
        r.note(json_line(r.sms));
        r.note("msg:" + r.sms.text + ",size:" + std::to_string(r.sms.text.size()));
    } else {
        const std::size_t data = (octets - header) & ~std::size_t{1};
        r.note("  msg len:" + std::to_string(data));
        std::string text(3 * data / 2 + 1, '\0');
        const int n = gsmDecodeUcs2(ud + header, text.data(), static_cast<int>(data));
        text.resize(static_cast<std::size_t>(n));
        // Some modules pad the text with question marks.
        if (text.size() >= 3 && text.compare(text.size() - 3, 3, "???") == 0)
            text.resize(text.size() - 3);
        r.sms.text = std::move(text);
        r.note("from:" + r.sms.from + ",time:" + r.sms.time + ",short_msg:" + r.sms.text +
               ", nDstLength:" + r.sms.part);
    }
    r.sms.outcome = Outcome::kReport;
    return std::move(r.sms);
}

}  // namespace gsm
