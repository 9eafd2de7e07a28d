#include "CLineDevice/cid_message.h"

namespace cid_message {
namespace {

// Fewer bytes than this are never looked at.
constexpr std::size_t kMinBytes = 5;
// MDMF bodies shorter than one parameter header and a value byte.
constexpr std::size_t kMinMdmfBody = 3;

enum MdmfParameter : std::uint8_t {
    kDateTime = 1,
    kNumber = 2,
    kNumberExtra = 3,
    kNumberAbsent = 4,
    kName = 7,
    kNameAbsent = 8,
};

bool isPreamble(std::uint8_t b)
{
    return (b & 0x7F) == 0x55;
}

char digit(std::uint8_t b)
{
    const int low = b & 0x0F;
    return low <= 9 ? static_cast<char>('0' + low) : 'x';
}

void appendDigits(std::string& text, const std::uint8_t* bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        text += digit(bytes[i]);
}

void parseSdmf(const std::uint8_t* body, std::size_t length, Texts& texts)
{
    const std::size_t time_bytes = length < 8 ? length : 8;
    appendDigits(texts.time, body, time_bytes);
    for (std::size_t i = time_bytes; i < length; ++i) {
        const std::uint8_t b = body[i];
        if (b <= 0x2F)
            continue;
        texts.number += (b == 'O' || b == 'P') ? static_cast<char>(b) : digit(b);
    }
}

void parseMdmf(const std::uint8_t* body, std::size_t length, bool type3, Texts& texts)
{
    std::size_t at = 0;
    while (at + 2 <= length) {
        const std::uint8_t type = body[at];
        const std::uint8_t* value = body + at + 2;
        std::size_t n = body[at + 1];
        // A parameter running past the body keeps only the bytes there are.
        if (at + 2 + n > length)
            n = length - at - 2;
        switch (type) {
        case kDateTime:
            appendDigits(texts.time, value, n);
            break;
        case kNumber:
            appendDigits(texts.number, value, n);
            break;
        case kNumberExtra:
            if (type3)
                appendDigits(texts.number, value, n);
            break;
        case kNumberAbsent:
            if (n > 0 && (value[0] == 'O' || value[0] == 'P'))
                texts.number = std::string(1, static_cast<char>(value[0]));
            return;
        case kName:
        case kNameAbsent:
            texts.name.append(reinterpret_cast<const char*>(value), n);
            break;
        default:
            break;
        }
        at += 2 + n;
    }
}

}  // namespace

Parse parse(const std::uint8_t* bytes, std::size_t count, bool type3, Texts& texts)
{
    texts = Texts{};
    if (!bytes || count < kMinBytes)
        return Parse::kIncomplete;
    std::size_t at = 0;
    while (at < count && isPreamble(bytes[at]))
        ++at;
    if (count - at < 2)
        return Parse::kIncomplete;
    const std::uint8_t type = bytes[at];
    const std::size_t length = bytes[at + 1];
    const std::uint8_t* body = bytes + at + 2;
    if (count - at - 2 < length)
        return Parse::kIncomplete;
    if (length == 0)
        return Parse::kEmpty;
    if (type == kTypeSdmf)
        parseSdmf(body, length, texts);
    else if (type == kTypeMdmf && length >= kMinMdmfBody)
        parseMdmf(body, length, type3, texts);
    return Parse::kComplete;
}

}  // namespace cid_message
