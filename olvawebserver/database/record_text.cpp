#include <algorithm>
#include <cstring>

#include "database/database_types.h"

namespace {

// A UTF-8 character is at most four bytes: a lead byte and three that
// continue it.
constexpr int kMaxContinuationBytes = 3;

std::string_view cut_text(std::string_view text, std::size_t max)
{
    if (text.size() <= max)
        return text;
    auto continues = [&](std::size_t i) { return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80; };
    std::size_t end = max;
    for (int i = 0; i < kMaxContinuationBytes && end > 0 && continues(end); ++i)
        --end;
    // Not UTF-8 here: any cut is as good as another.
    if (continues(end))
        end = max;
    return text.substr(0, end);
}

}  // namespace

void set_record_text(char* field, std::size_t size, std::string_view text)
{
    if (size == 0)
        return;
    const std::string_view kept = cut_text(text.substr(0, text.find('\0')), size - 1);
    std::copy(kept.begin(), kept.end(), field);
    std::memset(field + kept.size(), 0, size - kept.size());
}

std::string_view record_text(const char* field, std::size_t size)
{
    if (size == 0)
        return {};
    return cut_text(std::string_view(field, strnlen(field, size)), size - 1);
}
