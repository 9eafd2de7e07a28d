#include "ukit/json_text.h"

#include <cstdio>

namespace web {
namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Length of the valid UTF-8 sequence at text[i] (1 for ASCII), 0 when it
// is not one.
std::size_t utf8_sequence(std::string_view text, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    if (byte(i + 1) < low || byte(i + 1) > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF)
            return 0;
    }
    return length;
}

}  // namespace

std::string valid_utf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8_sequence(text, i);
        if (length == 0) {
            out += kReplacement;
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

bool is_valid_utf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8_sequence(text, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

std::string json_quote(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char byte : valid_utf8(text)) {
        const unsigned char c = static_cast<unsigned char>(byte);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += byte;
            }
        }
    }
    out += '"';
    return out;
}

void JsonPieces::name(const char* member)
{
    if (text_.size() > 1)
        text_ += ',';
    text_ += '"';
    text_ += member;
    text_ += "\":";
}

JsonPieces& JsonPieces::num(const char* member, unsigned long value)
{
    name(member);
    text_ += std::to_string(value);
    return *this;
}

JsonPieces& JsonPieces::num(const char* member, long value)
{
    name(member);
    text_ += std::to_string(value);
    return *this;
}

JsonPieces& JsonPieces::str(const char* member, std::string_view value)
{
    name(member);
    text_ += json_quote(value);
    return *this;
}

JsonPieces& JsonPieces::raw(const char* member, std::string_view value)
{
    name(member);
    text_ += value;
    return *this;
}

std::string greeting_text(const std::string& work_dir)
{
    return JsonPieces().str("event", "joined").str("OS", "linux").str("path", work_dir).done();
}

std::string notify_text(const char* name, int handle, int result)
{
    return JsonPieces()
        .str("event", "notify")
        .str("errorType", name)
        .num("handle", handle)
        .num("result", result)
        .done();
}

std::string answer_text(const char* name, int handle, std::string_view value)
{
    return JsonPieces()
        .str("event", "answer")
        .str("type", name)
        .num("handle", handle)
        .str("result", value)
        .done();
}

std::string upload_result_text(std::string_view result_json)
{
    return JsonPieces().str("event", "uploadfileresult").raw("result", result_json).done();
}

std::string windows_path_conver_linux(std::string path)
{
    if (path.size() > 1) {
        for (char& c : path) {
            if (c == '\\')
                c = '/';
        }
    }
    return path;
}

}  // namespace web
