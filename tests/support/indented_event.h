// The indented JSON text the service sends for the events it formats with
// tabs (the GSM events among them), built from its members in order.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace olva_test {

inline std::string indented(const std::vector<std::pair<std::string, std::string>>& members)
{
    std::string text = "{\n";
    for (std::size_t i = 0; i < members.size(); ++i)
        text += "\t\"" + members[i].first + "\":\t" + members[i].second +
                (i + 1 < members.size() ? ",\n" : "\n");
    return text + "}";
}

}  // namespace olva_test
