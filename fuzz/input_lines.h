// Inputs made of lines: takes the text up to the next LF off the front of
// text (all of it when there is none).
#pragma once

#include <cstddef>
#include <string_view>

namespace fuzz {

inline std::string_view next_line(std::string_view& text)
{
    const std::size_t at = text.find('\n');
    const std::string_view head = text.substr(0, at);
    text.remove_prefix(at == std::string_view::npos ? text.size() : at + 1);
    return head;
}

}  // namespace fuzz
