#include "gsm/at_text.h"

#include <cctype>

namespace gsm {

namespace {

constexpr int kMaxDigits = 9;

}  // namespace

std::string behind(const std::string& line, std::size_t n)
{
    return line.size() > n ? line.substr(n) : std::string();
}

std::string first_field(const std::string& text)
{
    return text.substr(0, text.find(','));
}

std::string unquote(const std::string& field)
{
    if (field.size() < 2)
        return {};
    return field.substr(1, field.size() - 2).substr(0, kMaxNumber);
}

bool read_number(const std::string& text, long& value)
{
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    long number = 0;
    int digits = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        if (++digits > kMaxDigits)
            return false;
        number = number * 10 + (text[i] - '0');
    }
    if (digits == 0)
        return false;
    value = negative ? -number : number;
    return true;
}

bool valid_number(const std::string& number)
{
    if (number.empty() || number.size() > kMaxNumber)
        return false;
    for (const char ch : number)
        if (!std::isdigit(static_cast<unsigned char>(ch)) && ch != '*' && ch != '#' && ch != '+')
            return false;
    return true;
}

std::string caller_tones_command(const std::string& number)
{
    const bool quoted = number.size() >= 2 && number.front() == '"' && number.back() == '"';
    const std::string inner = quoted ? number.substr(1, number.size() - 2) : number;
    std::string keys;
    for (std::size_t i = 0; i < inner.size() && i < kMaxNumber; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(inner[i])))
            break;
        keys += inner[i];
        keys += ',';
    }
    if (keys.empty())
        return {};
    keys.back() = '"';
    return "AT+QLDTMF=1,\"" + keys + "\r";
}

bool valid_command_text(const std::string& text)
{
    for (const char ch : text)
        if (ch == '\r' || ch == '\n' || ch == '\0')
            return false;
    return true;
}

}  // namespace gsm
