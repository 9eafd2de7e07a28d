#include "gsm/received_sms.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "base/common.h"
#include "codecs/Sms.h"
#include "codecs/gsm_alphabet.h"

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

// Reads the octets of the line, never past its end.
class Cursor {
public:
    explicit Cursor(std::vector<std::uint8_t> octets) : octets_(std::move(octets)) {}

    bool octet(std::uint8_t& value) { return octets(1, &value); }
    bool octets(std::size_t count, std::uint8_t* out)
    {
        if (octets_.size() - pos_ < count)
            return false;
        std::copy_n(octets_.begin() + static_cast<std::ptrdiff_t>(pos_), count, out);
        pos_ += count;
        return true;
    }
    // The next count octets, left in place for a reader of their own.
    bool skip(std::size_t count, const std::uint8_t*& at)
    {
        if (octets_.size() - pos_ < count)
            return false;
        at = octets_.data() + pos_;
        pos_ += count;
        return true;
    }

private:
    std::vector<std::uint8_t> octets_;
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

// One time-stamp octet: two swapped digits (0x90 is 9); a nibble above 9
// reads as its value, which keeps the field bounded.
int swapped_pair(std::uint8_t octet)
{
    return (octet >> 4) + (octet & 0x0F) * 10;
}

std::string sender_of(const std::uint8_t* packed, std::size_t digits, std::uint8_t type)
{
    const std::size_t octets = (digits + 1) / 2;
    if ((type & kTypeOfNumberMask) == kAlphanumeric) {
        char septets[kMaxAddressDigits + 2];
        gsmDecode7bit(packed, septets, static_cast<int>(octets));
        return gsm7ToUtf8(reinterpret_cast<const std::uint8_t*>(septets), digits * 4 / 7);
    }
    char semi[kMaxAddressDigits + 1];
    gsmBytes2String(packed, semi, static_cast<int>(octets));
    char number[kMaxAddressDigits + 1] = {};
    const int n = ChartoPhoneNum(semi, number, static_cast<std::uint8_t>(2 * octets));
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
    if (!std::all_of(line.begin(), line.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) {
        r.sms.outcome = Outcome::kNotPdu;
        return std::move(r.sms);
    }
    std::string upper(line.substr(0, line.size() & ~std::size_t{1}));
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    std::vector<std::uint8_t> line_octets(upper.size() / 2);
    gsmString2Bytes(upper.c_str(), line_octets.data(), static_cast<int>(upper.size()));
    Cursor in(std::move(line_octets));
    std::uint8_t centre = 0, first = 0, digits = 0, type = 0, pid = 0, dcs = 0, udl = 0;
    const std::uint8_t* skipped = nullptr;
    if (!in.octet(centre) || !in.skip(centre, skipped))
        return r.refuse("the line ends inside the service centre");
    if (!in.octet(first) || !in.octet(digits))
        return r.refuse("the line ends before the sender");
    if ((first & kMessageTypeMask) != 0)
        return r.refuse("not an SMS-DELIVER");
    if (digits > kMaxAddressDigits)
        return r.refuse("sender of " + std::to_string(digits) + " digits");
    const std::uint8_t* sender = nullptr;
    if (!in.octet(type) || !in.skip((digits + 1u) / 2, sender))
        return r.refuse("the line ends inside the sender");
    r.sms.from = sender_of(sender, digits, type);
    r.note("phonenumber: " + r.sms.from);

    std::uint8_t stamp[kTimeStampOctets];
    if (!in.octet(pid) || !in.octet(dcs) || !in.octets(kTimeStampOctets, stamp) || !in.octet(udl))
        return r.refuse("the line ends before the user data");
    r.note("SMS_Size: " + std::to_string(udl));
    char time[48];
    std::snprintf(time, sizeof time, "%04d-%02d-%02d %02d:%02d:%02d", swapped_pair(stamp[0]) + 2000,
                  swapped_pair(stamp[1]), swapped_pair(stamp[2]), swapped_pair(stamp[3]),
                  swapped_pair(stamp[4]), swapped_pair(stamp[5]));
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
