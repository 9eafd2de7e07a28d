#include "codecs/Sms.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/logger.h"
#include "codecs/gsm_alphabet.h"
#include "codecs/utf8_utf16.h"

namespace {

constexpr const char* kLogModule = "olva ";
constexpr const char* kLogTag = "sms";

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::uint8_t kAddressTypeInternational = 0x91;
constexpr std::uint8_t kFirstOctetSubmit = 0x11;  // SMS-SUBMIT, relative validity period
constexpr std::uint8_t kUserDataHeaderIndicator = 0x40;
constexpr std::uint8_t kMessageReference = 0x00;
constexpr std::uint8_t kValidityPeriod = 0x00;
constexpr std::uint8_t kMessageTypeMask = 0x03;  // 0 is SMS-DELIVER
constexpr std::uint8_t kDcsUcs2 = 0x08;
constexpr std::size_t kTimeStampOctets = 7;
// Service-centre length octet: the type octet and 10 octets of digits.
constexpr std::uint8_t kServiceCentreOctetsMax = 1 + kSmsAddressDigitsMax / 2;
// A 6-octet header and one fill bit take the room of 7 septets.
constexpr std::size_t kConcatHeaderSeptets = 7;

static_assert(sizeof(SM_PARAM::SCA) == kSmsAddressDigitsMax + 1);
static_assert(sizeof(SM_PARAM::TPA) == kSmsAddressDigitsMax + 1);
// The longest decoded texts: 70 UTF-16 units at 3 bytes; 160 septets at 2
// bytes (every character of the alphabet lies below U+0800, and the only
// 3-byte one, the euro sign, takes two septets).
static_assert(sizeof(SM_PARAM::TP_UD) > 3 * (kSmsUserDataOctetsMax / 2));
static_assert(sizeof(SM_PARAM::TP_UD) > 2 * kSmsSeptetsMax);

int hexValue(char c, bool lower_allowed)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (lower_allowed && c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Swaps the characters of each whole pair among the first n; returns the
// characters written.
int swapPairs(const char* in, char* out, int n)
{
    int k = 0;
    for (int i = 0; i + 1 < n; i += 2) {
        out[k++] = in[i + 1];
        out[k++] = in[i];
    }
    return k;
}

void appendOctet(std::string& hex, std::uint8_t value)
{
    hex += kHexDigits[value >> 4];
    hex += kHexDigits[value & 0x0F];
}

// The digits of an address field: an optional '+' (the type octet already
// says international), then digits only.
bool addressDigits(const char* field, std::size_t size, const char* what, std::string& digits)
{
    std::string_view text(field, strnlen(field, size));
    if (text.size() == size) {
        logger(1, kLogModule, kLogTag, "%s address is not terminated", what);
        return false;
    }
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    for (char c : text)
        if (c < '0' || c > '9') {
            logger(1, kLogModule, kLogTag, "%s address '%.*s' holds '%c', not a digit", what,
                   static_cast<int>(text.size()), text.data(), c);
            return false;
        }
    digits.assign(text);
    return true;
}

std::string semiOctets(const std::string& digits)
{
    char swapped[kSmsAddressDigitsMax + 2];
    const int n = gsmInvertNumbers(digits.c_str(), swapped, static_cast<int>(digits.size()));
    return std::string(swapped, static_cast<std::size_t>(n));
}

struct UserData {
    std::vector<std::uint8_t> octets;
    std::size_t length = 0;  // the user-data length octet: septets or octets
};

// n hex characters to n/2 bytes; returns n/2, or -1 at the first pair that is
// not hex.
int hexToBytes(const char* hex, unsigned char* bytes, int n, bool lower_allowed)
{
    for (int i = 0; i < n / 2; ++i) {
        const int high = hexValue(hex[2 * i], lower_allowed);
        const int low = hexValue(hex[2 * i + 1], lower_allowed);
        if (high < 0 || low < 0) {
            logger(2, kLogModule, kLogTag, "'%c%c' at %d is not %shex", hex[2 * i],
                   hex[2 * i + 1], 2 * i, lower_allowed ? "" : "upper-case ");
            return -1;
        }
        bytes[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return n / 2;
}

// Hex text of UCS2 that the caller wrote itself: lower case is taken too, and
// goes out upper case.
bool hexUserData(std::string_view text, std::vector<std::uint8_t>& octets)
{
    if (text.size() % 2 != 0) {
        logger(1, kLogModule, kLogTag, "hex user data of odd length %zu", text.size());
        return false;
    }
    octets.resize(text.size() / 2);
    return hexToBytes(text.data(), octets.data(), static_cast<int>(text.size()), true) >= 0;
}

bool sevenBitUserData(std::string_view text, const std::uint8_t* header, UserData& ud)
{
    Gsm7Text gsm = utf8ToGsm7(text);
    if (gsm.replaced)
        logger(2, kLogModule, kLogTag, "%zu characters outside the GSM alphabet sent as '?'",
               gsm.replaced);
    const std::size_t room = kSmsSeptetsMax - (header ? kConcatHeaderSeptets : 0);
    if (gsm.septets.size() > room) {
        logger(1, kLogModule, kLogTag, "text of %zu septets exceeds the %zu of one SMS",
               gsm.septets.size(), room);
        return false;
    }
    if (header)  // room for the header, which is written over it once packed
        gsm.septets.insert(gsm.septets.begin(), kConcatHeaderSeptets, 0);
    ud.length = gsm.septets.size();
    ud.octets.resize((ud.length * 7 + 7) / 8);
    gsmEncode7bit(reinterpret_cast<const char*>(gsm.septets.data()), ud.octets.data(),
                  static_cast<int>(ud.length));
    if (header)
        std::copy(header, header + kSmsConcatHeaderOctets, ud.octets.begin());
    return true;
}

bool buildUserData(const SM_PARAM& param, const std::uint8_t* header, UserData& ud)
{
    const std::string_view text(param.TP_UD, strnlen(param.TP_UD, sizeof param.TP_UD));
    if (param.TP_DCS != kSmsDcsUcs2Hex && gsmDcsAlphabet(param.TP_DCS) == SmsAlphabet::Gsm7)
        return sevenBitUserData(text, header, ud);

    std::vector<std::uint8_t> data;
    if (param.TP_DCS == kSmsDcsUcs2Hex) {
        if (!hexUserData(text, data))
            return false;
    } else if (gsmDcsAlphabet(param.TP_DCS) == SmsAlphabet::Ucs2) {
        data.resize(2 * text.size());
        data.resize(static_cast<std::size_t>(
            gsmEncodeUcs2(text.data(), data.data(), static_cast<int>(text.size()))));
    } else {
        data.assign(text.begin(), text.end());
    }
    const std::size_t room = kSmsUserDataOctetsMax - (header ? kSmsConcatHeaderOctets : 0);
    if (data.size() > room) {
        logger(1, kLogModule, kLogTag, "user data of %zu octets exceed the %zu of one SMS",
               data.size(), room);
        return false;
    }
    if (header)
        ud.octets.assign(header, header + kSmsConcatHeaderOctets);
    ud.octets.insert(ud.octets.end(), data.begin(), data.end());
    ud.length = ud.octets.size();
    return true;
}

int encodeSubmit(const SM_PARAM* param, char* out, const std::uint8_t* header)
{
    std::string sca, tpa;
    UserData ud;
    if (!addressDigits(param->SCA, sizeof param->SCA, "service-centre", sca) ||
        !addressDigits(param->TPA, sizeof param->TPA, "destination", tpa) ||
        !buildUserData(*param, header, ud))
        return -1;

    std::string hex;
    // The length counts the type octet and the digit octets.
    appendOctet(hex, static_cast<std::uint8_t>((sca.size() + 1) / 2 + 1));
    appendOctet(hex, kAddressTypeInternational);
    hex += semiOctets(sca);
    appendOctet(hex, header ? kFirstOctetSubmit | kUserDataHeaderIndicator : kFirstOctetSubmit);
    appendOctet(hex, kMessageReference);
    appendOctet(hex, static_cast<std::uint8_t>(tpa.size()));
    appendOctet(hex, kAddressTypeInternational);
    hex += semiOctets(tpa);
    appendOctet(hex, param->TP_PID);
    appendOctet(hex, param->TP_DCS == kSmsDcsUcs2Hex ? kDcsUcs2 : param->TP_DCS);
    appendOctet(hex, kValidityPeriod);
    appendOctet(hex, static_cast<std::uint8_t>(ud.length));
    for (std::uint8_t octet : ud.octets)
        appendOctet(hex, octet);

    std::memcpy(out, hex.c_str(), hex.size() + 1);
    return static_cast<int>(hex.size());
}

// Reads octets from upper-case hex text, never past its end.
class HexReader {
public:
    explicit HexReader(std::string_view hex) : hex_(hex) {}

    bool octet(std::uint8_t& value)
    {
        if (hex_.size() - pos_ < 2)
            return false;
        value = static_cast<std::uint8_t>(hexValue(hex_[pos_], false) << 4 |
                                          hexValue(hex_[pos_ + 1], false));
        pos_ += 2;
        return true;
    }

    bool octets(std::size_t count, std::uint8_t* out)
    {
        if ((hex_.size() - pos_) / 2 < count)
            return false;
        for (std::size_t i = 0; i < count; ++i)
            octet(out[i]);
        return true;
    }

    // The next count octets as they stand in the text.
    bool chars(std::size_t count, std::string_view& out)
    {
        if ((hex_.size() - pos_) / 2 < count)
            return false;
        out = hex_.substr(pos_, 2 * count);
        pos_ += 2 * count;
        return true;
    }

private:
    std::string_view hex_;
    std::size_t pos_ = 0;
};

int decodeError(const char* reason)
{
    logger(2, kLogModule, kLogTag, "pdu refused: %s", reason);
    return -1;
}

int truncated(const char* field)
{
    logger(2, kLogModule, kLogTag, "pdu refused: it ends inside the %s", field);
    return -1;
}

// Reads count octets of swapped semi-octets into out (room for 2 * count + 1).
bool readSemiOctets(HexReader& in, std::size_t count, char* out)
{
    std::string_view chars;
    if (!in.chars(count, chars))
        return false;
    gsmSerializeNumbers(chars.data(), out, static_cast<int>(chars.size()));
    return true;
}

// The user data after an optional header, decoded into decoded.TP_UD.
// Returns the bytes of text, or -1.
int decodeUserData(HexReader& in, bool has_header, std::uint8_t length, SM_PARAM& decoded)
{
    const SmsAlphabet alphabet = gsmDcsAlphabet(decoded.TP_DCS);
    const bool seven_bit = alphabet == SmsAlphabet::Gsm7;
    if (length > (seven_bit ? kSmsSeptetsMax : kSmsUserDataOctetsMax))
        return decodeError(seven_bit ? "user data above 160 septets" : "user data above 140 octets");
    const std::size_t octet_count = seven_bit ? (length * 7u + 7) / 8 : length;
    std::uint8_t ud[kSmsUserDataOctetsMax];
    if (!in.octets(octet_count, ud))
        return truncated("user data");

    std::size_t header_octets = 0;
    if (has_header) {
        if (octet_count == 0)
            return decodeError("user-data header indicated, but no user data");
        header_octets = 1u + ud[0];
        if (header_octets > octet_count)
            return decodeError("user-data header longer than the user data");
    }
    if (seven_bit) {
        char septets[kSmsSeptetsMax + 1];
        gsmDecode7bit(ud, septets, static_cast<int>(octet_count));
        const std::size_t skip = (header_octets * 8 + 6) / 7;
        if (skip > length)
            return decodeError("user-data header longer than the user data");
        const std::string text =
            gsm7ToUtf8(reinterpret_cast<const std::uint8_t*>(septets) + skip, length - skip);
        const std::size_t n = std::min(text.size(), sizeof decoded.TP_UD - 1);
        std::memcpy(decoded.TP_UD, text.data(), n);
        decoded.TP_UD[n] = '\0';
        return static_cast<int>(n);
    }
    const int data_octets = static_cast<int>(octet_count - header_octets);
    if (alphabet == SmsAlphabet::Ucs2)
        return gsmDecodeUcs2(ud + header_octets, decoded.TP_UD, data_octets);
    return gsmDecode8bit(ud + header_octets, decoded.TP_UD, data_octets);
}

int decodeDeliver(std::string_view hex, SM_PARAM& decoded)
{
    if (const auto bad = hex.find_first_not_of(kHexDigits); bad != std::string_view::npos)
        return decodeError("not upper-case hex text");
    HexReader in(hex);
    std::uint8_t sca_length = 0, type = 0, first = 0, digits = 0, length = 0;
    if (!in.octet(sca_length))
        return truncated("service-centre length");
    if (sca_length > kServiceCentreOctetsMax)
        return decodeError("service-centre address above 20 digits");
    if (sca_length > 0 && (!in.octet(type) || !readSemiOctets(in, sca_length - 1u, decoded.SCA)))
        return truncated("service-centre address");
    if (!in.octet(first))
        return truncated("first octet");
    if ((first & kMessageTypeMask) != 0)
        return decodeError("not an SMS-DELIVER");
    if (!in.octet(digits))
        return truncated("originating-address length");
    if (digits > kSmsAddressDigitsMax)
        return decodeError("originating address above 20 digits");
    if (!in.octet(type) || !readSemiOctets(in, (digits + 1u) / 2, decoded.TPA))
        return truncated("originating address");
    if (!in.octet(decoded.TP_PID) || !in.octet(decoded.TP_DCS))
        return truncated("protocol identifier and coding scheme");
    if (!readSemiOctets(in, kTimeStampOctets, decoded.TP_SCTS))
        return truncated("time stamp");
    if (!in.octet(length))
        return truncated("user-data length");
    return decodeUserData(in, (first & kUserDataHeaderIndicator) != 0, length, decoded);
}

}  // namespace

SmsAlphabet gsmDcsAlphabet(std::uint8_t dcs)
{
    switch (dcs >> 4) {
    case 0x0: case 0x1: case 0x2: case 0x3:  // general data coding
    case 0x4: case 0x5: case 0x6: case 0x7:  // the same, marked for deletion
        if (dcs & 0x20)
            return SmsAlphabet::Data8;       // compressed: not text we can read
        switch ((dcs >> 2) & 0x03) {
        case 1:
            return SmsAlphabet::Data8;
        case 2:
            return SmsAlphabet::Ucs2;
        default:
            return SmsAlphabet::Gsm7;        // 0, or reserved
        }
    case 0xE:                                // message waiting, UCS2
        return SmsAlphabet::Ucs2;
    case 0xF:                                // data coding and message class
        return (dcs & 0x04) ? SmsAlphabet::Data8 : SmsAlphabet::Gsm7;
    default:                                 // message waiting (7-bit), reserved groups
        return SmsAlphabet::Gsm7;
    }
}

int gsmString2Bytes(const char* hex, unsigned char* bytes, int n)
{
    return n < 0 ? -1 : hexToBytes(hex, bytes, n, false);
}

int gsmBytes2String(const unsigned char* bytes, char* hex, int n)
{
    if (n < 0)
        return -1;
    for (int i = 0; i < n; ++i) {
        hex[2 * i] = kHexDigits[bytes[i] >> 4];
        hex[2 * i + 1] = kHexDigits[bytes[i] & 0x0F];
    }
    hex[2 * n] = '\0';
    return 2 * n;
}

int gsmEncode7bit(const char* text, unsigned char* out, int n)
{
    if (n < 0)
        return -1;
    const int octets = (7 * n + 7) / 8;
    std::memset(out, 0, static_cast<std::size_t>(octets));
    for (int i = 0; i < n; ++i) {
        const unsigned septet = static_cast<unsigned char>(text[i]) & 0x7Fu;
        const int bit = 7 * i;
        const int shift = bit % 8;
        out[bit / 8] |= static_cast<unsigned char>(septet << shift);
        if (shift > 1)
            out[bit / 8 + 1] |= static_cast<unsigned char>(septet >> (8 - shift));
    }
    return octets;
}

int gsmDecode7bit(const unsigned char* octets, char* out, int n)
{
    if (n < 0)
        return -1;
    const int septets = 8 * n / 7;
    for (int i = 0; i < septets; ++i) {
        const int bit = 7 * i;
        const int shift = bit % 8;
        unsigned value = static_cast<unsigned>(octets[bit / 8]) >> shift;
        if (shift > 1)  // the septet runs into the next octet, which lies within the n
            value |= static_cast<unsigned>(octets[bit / 8 + 1]) << (8 - shift);
        out[i] = static_cast<char>(value & 0x7F);
    }
    out[septets] = '\0';
    return septets;
}

int gsmEncode8bit(const char* text, unsigned char* out, int n)
{
    if (n < 0)
        return -1;
    std::memcpy(out, text, static_cast<std::size_t>(n));
    return n;
}

int gsmDecode8bit(const unsigned char* octets, char* out, int n)
{
    if (n < 0)
        return -1;
    std::memcpy(out, octets, static_cast<std::size_t>(n));
    out[n] = '\0';
    return n;
}

int gsmEncodeUcs2(const char* text, unsigned char* out, int n)
{
    if (n < 0)
        return -1;
    const Utf16Text utf16 = utf8ToUtf16({text, strnlen(text, static_cast<std::size_t>(n))});
    if (utf16.replaced)
        logger(2, kLogModule, kLogTag, "%zu sequences of the text are not UTF-8, sent as U+FFFD",
               utf16.replaced);
    for (std::size_t i = 0; i < utf16.text.size(); ++i) {
        out[2 * i] = static_cast<unsigned char>(utf16.text[i] >> 8);
        out[2 * i + 1] = static_cast<unsigned char>(utf16.text[i] & 0xFF);
    }
    return static_cast<int>(2 * utf16.text.size());
}

int gsmDecodeUcs2(const unsigned char* octets, char* out, int n)
{
    if (n < 0)
        return -1;
    std::u16string units(static_cast<std::size_t>(n / 2), u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(octets[2 * i] << 8 | octets[2 * i + 1]);
    const Utf8Text utf8 = utf16ToUtf8(units);
    if (utf8.replaced)
        logger(2, kLogModule, kLogTag, "%zu lone surrogates in UCS2 text, shown as U+FFFD",
               utf8.replaced);
    std::memcpy(out, utf8.text.data(), utf8.text.size());
    out[utf8.text.size()] = '\0';
    return static_cast<int>(utf8.text.size());
}

int gsmInvertNumbers(const char* digits, char* out, int n)
{
    if (n < 0)
        return -1;
    int k = swapPairs(digits, out, n);
    if (n % 2 != 0) {
        out[k++] = 'F';
        out[k++] = digits[n - 1];
    }
    out[k] = '\0';
    return k;
}

int gsmSerializeNumbers(const char* semi, char* out, int n)
{
    if (n < 0)
        return -1;
    int k = swapPairs(semi, out, n);
    if (n % 2 != 0)
        out[k++] = semi[n - 1];
    if (k > 0 && out[k - 1] == 'F')
        --k;
    out[k] = '\0';
    return k;
}

int gsmEncodePdu(const SM_PARAM* param, char* out)
{
    return encodeSubmit(param, out, nullptr);
}

int gsmEncodeMultiSmsPdu(const SM_PARAM* param, char* out, unsigned char ref,
                         unsigned char total, unsigned char seq)
{
    if (total == 0 || seq == 0 || seq > total) {
        logger(1, kLogModule, kLogTag, "part %u of %u of a concatenated SMS", seq, total);
        return -1;
    }
    const std::uint8_t header[kSmsConcatHeaderOctets] = {0x05, 0x00, 0x03, ref, total, seq};
    return encodeSubmit(param, out, header);
}

int gsmDecodePdu(const char* hex, SM_PARAM* param)
{
    if (!hex || !param)
        return decodeError("no text or no record");
    SM_PARAM decoded{};
    decoded.index = param->index;
    const int result = decodeDeliver(hex, decoded);
    if (result < 0) {
        decoded = SM_PARAM{};
        decoded.index = param->index;
    }
    *param = decoded;
    return result;
}
