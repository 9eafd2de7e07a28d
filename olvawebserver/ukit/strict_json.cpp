#include "ukit/strict_json.h"

#include <cJSON.h>

#include <cstddef>
#include <memory>

#include "codecs/utf8_utf16.h"

namespace web {
namespace {

// Arrays and objects nested deeper than this are refused: the check is
// recursive, and no upload server's answer needs more.
constexpr int kMaxDepth = 64;

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool is_high_surrogate(unsigned unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool is_low_surrogate(unsigned unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// A recursive descent over the grammar of RFC 8259, reading text from pos.
class StrictReader {
public:
    explicit StrictReader(std::string_view text) : text_(text) {}

    bool whole_text()
    {
        skip_blanks();
        if (!value(0))
            return false;
        skip_blanks();
        return pos_ == text_.size();
    }

private:
    bool at_end() const { return pos_ >= text_.size(); }
    char peek() const { return at_end() ? '\0' : text_[pos_]; }

    bool take(char c)
    {
        if (peek() != c || at_end())
            return false;
        ++pos_;
        return true;
    }

    // Only these four are blanks in JSON; cJSON takes every byte up to 32.
    void skip_blanks()
    {
        while (!at_end() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' ||
                             text_[pos_] == '\r'))
            ++pos_;
    }

    bool literal(std::string_view word)
    {
        if (text_.substr(pos_, word.size()) != word)
            return false;
        pos_ += word.size();
        return true;
    }

    bool value(int depth)
    {
        switch (peek()) {
        case '{': return object(depth + 1);
        case '[': return array(depth + 1);
        case '"': return string();
        case 't': return literal("true");
        case 'f': return literal("false");
        case 'n': return literal("null");
        default: return number();
        }
    }

    bool object(int depth)
    {
        if (depth > kMaxDepth)
            return false;
        ++pos_;  // '{'
        skip_blanks();
        if (take('}'))
            return true;
        for (;;) {
            skip_blanks();
            if (peek() != '"' || !string())
                return false;
            skip_blanks();
            if (!take(':'))
                return false;
            skip_blanks();
            if (!value(depth))
                return false;
            skip_blanks();
            if (take('}'))
                return true;
            if (!take(','))
                return false;
        }
    }

    bool array(int depth)
    {
        if (depth > kMaxDepth)
            return false;
        ++pos_;  // '['
        skip_blanks();
        if (take(']'))
            return true;
        for (;;) {
            skip_blanks();
            if (!value(depth))
                return false;
            skip_blanks();
            if (take(']'))
                return true;
            if (!take(','))
                return false;
        }
    }

    // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    bool number()
    {
        take('-');
        if (take('0')) {
            if (is_digit(peek()))
                return false;  // no leading zero
        } else if (!digits()) {
            return false;
        }
        if (take('.') && !digits())
            return false;
        if (take('e') || take('E')) {
            if (!take('+'))
                take('-');
            if (!digits())
                return false;
        }
        return true;
    }

    bool digits()
    {
        const std::size_t begin = pos_;
        while (is_digit(peek()))
            ++pos_;
        return pos_ > begin;
    }

    // Four hex digits after "\u"; -1 when they are not.
    int hex_unit()
    {
        if (pos_ + 4 > text_.size())
            return -1;
        int unit = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hex_value(text_[pos_++]);
            if (digit < 0)
                return -1;
            unit = unit * 16 + digit;
        }
        return unit;
    }

    bool escape()
    {
        const char c = peek();
        ++pos_;
        switch (c) {
        case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't':
            return true;
        case 'u': {
            const int unit = hex_unit();
            if (unit <= 0 || is_low_surrogate(static_cast<unsigned>(unit)))
                return false;
            if (!is_high_surrogate(static_cast<unsigned>(unit)))
                return true;
            // A high surrogate only as the first half of a pair.
            if (!literal("\\u"))
                return false;
            const int low = hex_unit();
            return low >= 0 && is_low_surrogate(static_cast<unsigned>(low));
        }
        default:
            return false;
        }
    }

    bool string()
    {
        ++pos_;  // '"'
        while (!at_end()) {
            const auto c = static_cast<unsigned char>(text_[pos_]);
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (c < 0x20)
                return false;  // a control character must be escaped
            if (c == '\\') {
                ++pos_;
                if (!escape())
                    return false;
            } else if (c < 0x80) {
                ++pos_;
            } else {
                char32_t cp = 0;
                if (!utf8DecodeNext(text_, pos_, cp))
                    return false;
            }
        }
        return false;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace

bool is_strict_json(std::string_view text)
{
    return StrictReader(text).whole_text();
}

std::optional<std::string> reprint_strict_json(std::string_view text)
{
    if (!is_strict_json(text))
        return std::nullopt;
    const std::unique_ptr<cJSON, decltype(&cJSON_Delete)> json(cJSON_ParseWithLength(text.data(), text.size()),
                                                               &cJSON_Delete);
    if (!json)
        return std::nullopt;
    char* printed = cJSON_PrintUnformatted(json.get());
    if (!printed)
        return std::nullopt;
    std::string reprinted = printed;
    cJSON_free(printed);
    return reprinted;
}

}  // namespace web
