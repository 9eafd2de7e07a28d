#include "gsm/line_assembler.h"

namespace gsm {

std::vector<LineAssembler::Item> LineAssembler::feed(const std::uint8_t* bytes, std::size_t count)
{
    std::vector<Item> items;
    if (!bytes)
        return items;
    bool prompted = false;  // the chunk is handed on once, however many '>' it holds
    for (std::size_t i = 0; i < count; ++i) {
        const char byte = static_cast<char>(bytes[i]);
        switch (byte) {
        case '\r':
            carriage_return_ = true;
            break;
        case '\n':
            // A line feed without its carriage return ends nothing.
            if (carriage_return_) {
                carriage_return_ = false;
                if (overflowed_)
                    items.push_back({Item::Kind::kDroppedLongLine, {}});
                else if (line_.size() > 1)
                    items.push_back({Item::Kind::kLine, line_});
                line_.clear();
                overflowed_ = false;
            }
            break;
        case '>':
            carriage_return_ = false;
            if (!prompted)
                items.push_back({Item::Kind::kPrompt,
                                 std::string(reinterpret_cast<const char*>(bytes), count)});
            prompted = true;
            break;
        default:
            carriage_return_ = false;
            if (line_.size() < kMaxLine)
                line_ += byte;
            else
                overflowed_ = true;
            break;
        }
    }
    return items;
}

std::vector<LineAssembler::Item> LineAssembler::feed(const std::string& chunk)
{
    return feed(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size());
}

}  // namespace gsm
