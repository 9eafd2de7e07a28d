#include "ukit/json_input.h"

namespace web {

bool holds_nul(std::string_view json)
{
    constexpr std::string_view kEscapedNul = "u0000";
    bool in_string = false;
    for (std::size_t i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (c == '\0')
            return true;
        if (!in_string) {
            in_string = c == '"';
        } else if (c == '"') {
            in_string = false;
        } else if (c == '\\' && i + 1 < json.size()) {
            // "\\u0000" is a backslash and the text "u0000": the escaped
            // character is skipped whole.
            ++i;
            if (json.substr(i, kEscapedNul.size()) == kEscapedNul)
                return true;
        }
    }
    return false;
}

}  // namespace web
